#include "about_dialog.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "dialog_units.h"
#include "homepage.h"

CAboutDialog::CAboutDialog(const QIcon& icon, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About ORBIX Loader"));
    const CDialogUnits du(font());
    setFixedSize(du.Size(235, 55));

    auto* picture = new QLabel(this);
    picture->setPixmap(icon.pixmap(32, 32));
    picture->setGeometry(du.X(11), du.Y(17), 32, 32);

    m_version = new QLabel(QStringLiteral("ORBIX Loader Version " ORBIX_VERSION_TEXT), this);
    m_version->setObjectName(QStringLiteral("versionText"));
    m_version->setTextFormat(Qt::PlainText);
    m_version->setGeometry(du.Rect(40, 10, 119, 8));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(du.Rect(178, 7, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    m_link = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>")
                            .arg(QString::fromLatin1(HOMEPAGE_URL), QString::fromLatin1(HOMEPAGE_TEXT)),
                        this);
    m_link->setObjectName(QStringLiteral("homepageLink"));
    m_link->setTextFormat(Qt::RichText);
    // A click opens the page but leaves the focus on OK, so Enter still closes the box rather
    // than opening the page again.
    m_link->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    m_link->setFocusPolicy(Qt::NoFocus);
    m_link->setCursor(Qt::PointingHandCursor);
    // Wide enough for the address in any font; the layout's width is a minimum.
    const QRect linkRect = du.Rect(40, 38, 66, 8);
    m_link->setGeometry(linkRect.x(), linkRect.y(), std::max(linkRect.width(), m_link->sizeHint().width()),
                        std::max(linkRect.height(), m_link->sizeHint().height()));
    connect(m_link, &QLabel::linkActivated, this, [] { OpenHomepage(); });

    ok->setFocus();
}
