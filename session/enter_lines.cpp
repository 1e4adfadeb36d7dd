#include "enter_lines.h"

#include <QCoreApplication>
#include <atomic>
#include <string>
#include <thread>

#include "station.h"

std::unique_ptr<QObject> ReadEnterLines(std::istream& lines, CEnterKey& enter) {
    auto alive = std::make_shared<std::atomic<bool>>(true);
    auto post = [alive, &enter](bool ended) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [alive, &enter, ended] {
                if (!*alive) return;
                if (ended)
                    enter.InputEnded();
                else
                    enter.Pressed();
            },
            Qt::QueuedConnection);
    };
    // The thread cannot be stopped in its read: it outlives the stations and tells nobody.
    std::thread([post, &lines] {
        std::string line;
        while (std::getline(lines, line) && !lines.eof()) post(false);
        post(true);
    }).detach();
    auto owner = std::make_unique<QObject>();
    QObject::connect(owner.get(), &QObject::destroyed, [alive] { *alive = false; });
    return owner;
}
