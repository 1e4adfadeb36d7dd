#include "enter_lines.h"

#include <QCoreApplication>
#include <atomic>
#include <string>
#include <thread>

#include "serial_desk.h"
#include "station.h"

std::unique_ptr<QObject> ReadStationLines(std::istream& lines, CEnterKey& enter, CSerialDesk* serials,
                                          std::function<void(const std::string&)> refused) {
    auto alive = std::make_shared<std::atomic<bool>>(true);
    auto post = [alive, &enter, serials, refused](bool ended, std::string line) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [alive, &enter, serials, refused, ended, line] {
                if (!*alive) return;
                if (ended) {
                    enter.InputEnded();
                    if (serials) serials->Close();
                } else if (serials) {
                    std::string said = serials->Scan(line);
                    if (!said.empty()) refused(said);
                } else {
                    enter.Pressed();
                }
            },
            Qt::QueuedConnection);
    };
    // The thread cannot be stopped in its read: it outlives the stations and tells nobody.
    std::thread([post, &lines] {
        std::string line;
        while (std::getline(lines, line) && !lines.eof()) {
            if (!line.empty() && line.back() == '\r') line.pop_back();  // a Windows console's line end
            post(false, line);
        }
        post(true, "");
    }).detach();
    auto owner = std::make_unique<QObject>();
    QObject::connect(owner.get(), &QObject::destroyed, [alive] { *alive = false; });
    return owner;
}
