#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QUrl>
#include <cstdio>

#include "desktop/app_icon.h"
#include "ui/about_dialog.h"
#include "ui/help_dialog.h"
#include "window_fixture.h"

// Stands in for the browser: records the pages the program asks the desktop to open.
class CUrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void Open(const QUrl& url) { opened << url; }
};

namespace {

class HelpAboutTest : public testing::Test {
protected:
    void SetUp() override {
        ClearSettings();
        QDesktopServices::setUrlHandler("https", &browser, "Open");
    }
    void TearDown() override { QDesktopServices::unsetUrlHandler("https"); }

    CUrlRecorder browser;
};

TEST_F(HelpAboutTest, HelpShowsTheEightLinesUnwrappedAndReadOnly) {
    const std::string expected =
        "The ORBIX Loader allows users to install updated \r\n"
        "Firmware or Screens into an ORBIX.\r\n"
        "\r\n"
        "Note that the keypad must be in the Kestrel mode \r\n"
        "for these operations to be performed. This can be done \r\n"
        "by navigating to the \"Firmware Update\" screen or by \r\n"
        "pressing and holding the top left corner of the display \r\n"
        "on power up.";
    EXPECT_EQ(HELP_TEXT, expected);

    CHelpDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "ORBIX Loader Help");
    QPlainTextEdit* box = dialog.TextBox();
    EXPECT_TRUE(box->isReadOnly());
    EXPECT_EQ(box->lineWrapMode(), QPlainTextEdit::NoWrap);
    // Each CR LF ends one line; the blanks at the line ends are kept.
    QStringList lines;
    for (QTextBlock block = box->document()->begin(); block.isValid(); block = block.next()) lines << block.text();
    EXPECT_EQ(lines, QString::fromStdString(expected).split("\r\n"));
    EXPECT_EQ(lines.size(), 8);

    dialog.show();
    auto* close = dialog.findChild<QPushButton*>();
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->text(), "Close");
    QTest::mouseClick(close, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
}

// Run at 100% and, as its own CTest entry, at 200% (QT_SCALE_FACTOR=2); also with a larger font.
TEST_F(HelpAboutTest, HelpLinesShowWholeWithoutAHorizontalScrollBar) {
    const QFont defaultFont = QApplication::font();
    QFont large = defaultFont;
    large.setPointSizeF(defaultFont.pointSizeF() * 1.6);
    for (const QFont& font : {defaultFont, large}) {
        QApplication::setFont(font);
        CHelpDialog dialog;
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        QPlainTextEdit* box = dialog.TextBox();
        EXPECT_EQ(box->horizontalScrollBar()->maximum(), 0) << "font " << font.pointSizeF();
        EXPECT_FALSE(box->horizontalScrollBar()->isVisible());
        EXPECT_EQ(box->verticalScrollBar()->maximum(), 0);
        // The Close button stays to the right of the box, inside the dialog.
        auto* close = dialog.findChild<QPushButton*>();
        EXPECT_GT(close->geometry().left(), box->geometry().right());
        EXPECT_LE(close->geometry().right(), dialog.width());
        std::printf("help box %d px wide at %g pt, device pixel ratio %g\n", box->width(), font.pointSizeF(),
                    dialog.devicePixelRatioF());
    }
    QApplication::setFont(defaultFont);
}

TEST_F(HelpAboutTest, AboutShowsNameAndVersionItsLinkOpensTheHomepageAndEnterCloses) {
    CAboutDialog dialog(AppIcon());
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    EXPECT_EQ(dialog.windowTitle(), "About ORBIX Loader");
    EXPECT_EQ(dialog.VersionText()->text(), "ORBIX Loader Version 1.0.2");
    QLabel* link = dialog.HomepageLink();
    EXPECT_EQ(link->text().contains("www.calvane.example"), true);

    QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(8, link->height() / 2));
    ASSERT_EQ(browser.opened.size(), 1);
    EXPECT_EQ(browser.opened[0], QUrl("https://www.calvane.example/"));
    EXPECT_TRUE(dialog.isVisible());

    // Enter, to whatever has the focus after the click: the box closes, the page is not opened again.
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus ? focus : &dialog, Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(browser.opened.size(), 1);
}

TEST_F(HelpAboutTest, HomepageCommandOpensThePageWithoutADialog) {
    CRecordingDialog window;
    window.SetPortOverride(PortSpec{0, NO_SUCH_PORT});
    window.OnInitDialog();
    QMenu* help = window.MenuBar()->actions().at(2)->menu();
    QAction* homepage = help->actions().at(1);
    ASSERT_EQ(homepage->text(), "Calvane Homepage");
    homepage->trigger();
    ASSERT_EQ(browser.opened.size(), 1);
    EXPECT_EQ(browser.opened[0], QUrl("https://www.calvane.example/"));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace

#include "help_about_test.moc"
