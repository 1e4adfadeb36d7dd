#pragma once

#include <QDialog>

class QIcon;
class QLabel;

// The program's icon, name and version, and the maker's web address, which opens the homepage
// and leaves the box open.
class CAboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDialog(const QIcon& icon, QWidget* parent = nullptr);

    QLabel* VersionText() const { return m_version; }
    QLabel* HomepageLink() const { return m_link; }

private:
    QLabel* m_version = nullptr;
    QLabel* m_link = nullptr;
};
