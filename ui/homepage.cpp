#include "homepage.h"

#include <QDesktopServices>
#include <QUrl>

void OpenHomepage() { QDesktopServices::openUrl(QUrl(QString::fromLatin1(HOMEPAGE_URL))); }
