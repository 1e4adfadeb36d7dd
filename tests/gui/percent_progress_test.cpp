#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <climits>

#include "desktop/offscreen_dc.h"
#include "desktop/percent_progress_ctrl.h"

namespace {

constexpr COLORREF kBar = 0x00FF0076;   // red 118, green 0, blue 255
constexpr COLORREF kBack = 0x00C8C8C8;  // grey 200
constexpr COLORREF kWhite = 0x00FFFFFF;

QRgb Rgb(COLORREF c)
{
    return qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

// Counts paints, so a test can tell a repaint done before a call returned from one merely
// scheduled, or none.
class CountingBar : public CPercentProgressCtrl {
public:
    using CPercentProgressCtrl::CPercentProgressCtrl;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        ++paints;
        CPercentProgressCtrl::paintEvent(event);
    }
};

void Settle()
{
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

// Hard-edged glyphs, so text pixels carry exactly the pen colour.
void UseCrispFont(QWidget& w)
{
    QFont font("DejaVu Sans");
    font.setPixelSize(16);
    font.setStyleStrategy(QFont::NoAntialias);
    w.setFont(font);
}

void Prepare(CPercentProgressCtrl& bar, int width, int height, COLORREF barColor = kBar,
             COLORREF backColor = kBack)
{
    bar.resize(width, height);
    bar.SetBarColor(barColor);
    bar.SetBkColor(backColor);
    UseCrispFont(bar);
}

// Paints into an image that starts out black, with no background fill from Qt.
QImage Render(CPercentProgressCtrl& bar)
{
    QImage image(bar.size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    bar.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    return image;
}

int Count(const QImage& image, const QRect& area, QRgb colour)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += image.pixel(x, y) == colour;
    return n;
}

int CountOther(const QImage& image, QRgb a, QRgb b)
{
    return image.width() * image.height() - Count(image, image.rect(), a) -
           Count(image, image.rect(), b);
}

}  // namespace

TEST(PercentProgressCtrl, FillsFromTheLeftByTruncatedFraction)
{
    CPercentProgressCtrl bar;
    Prepare(bar, 200, 20);
    bar.SetShowText(false);

    bar.SetPos(50);
    QImage image = Render(bar);
    for (int y = 0; y < 20; ++y) {
        EXPECT_EQ(image.pixel(99, y), Rgb(kBar)) << y;
        EXPECT_EQ(image.pixel(100, y), Rgb(kBack)) << y;
    }
    EXPECT_EQ(Count(image, QRect(0, 0, 100, 20), Rgb(kBar)), 100 * 20);
    EXPECT_EQ(Count(image, QRect(100, 0, 100, 20), Rgb(kBack)), 100 * 20);

    // 1/3 of 200 is 66.67: the partial pixel stays empty.
    bar.SetRange32(0, 3);
    bar.SetPos(1);
    image = Render(bar);
    EXPECT_EQ(image.pixel(65, 10), Rgb(kBar));
    EXPECT_EQ(image.pixel(66, 10), Rgb(kBack));

    // Below the range nothing is filled, far above it everything is, without overflow.
    bar.SetRange32(0, 100);
    bar.SetPos(-50);
    EXPECT_EQ(Count(Render(bar), bar.rect(), Rgb(kBack)), 200 * 20);
    bar.SetRange32(0, 1);
    bar.SetPos(INT_MAX);
    EXPECT_EQ(Count(Render(bar), bar.rect(), Rgb(kBar)), 200 * 20);
    bar.SetRange32(INT_MIN, INT_MAX);
    bar.SetPos(INT_MAX);
    EXPECT_EQ(Count(Render(bar), bar.rect(), Rgb(kBar)), 200 * 20);
}

TEST(PercentProgressCtrl, TextContrastsWithEachPartOrUsesTheSetColour)
{
    CPercentProgressCtrl bar;
    Prepare(bar, 200, 24);
    bar.SetPos(50);
    ASSERT_EQ(bar.DisplayText(), "50%");

    // Default text colour: background colour over the bar, bar colour over the background. The
    // text straddles the edge, so each half must carry its own colour.
    QImage image = Render(bar);
    const QRect left(0, 0, 100, 24);
    const QRect right(100, 0, 100, 24);
    EXPECT_GT(Count(image, left, Rgb(kBack)), 0);
    EXPECT_GT(Count(image, right, Rgb(kBar)), 0);
    EXPECT_EQ(CountOther(image, Rgb(kBar), Rgb(kBack)), 0);
    // Away from the text the parts are plain.
    EXPECT_EQ(image.pixel(10, 1), Rgb(kBar));
    EXPECT_EQ(image.pixel(190, 1), Rgb(kBack));

    // A set colour is used over both parts.
    EXPECT_EQ(bar.SetTextColor(kWhite), CLR_DEFAULT);
    image = Render(bar);
    EXPECT_GT(Count(image, left, Rgb(kWhite)), 0);
    EXPECT_GT(Count(image, right, Rgb(kWhite)), 0);
    EXPECT_EQ(Count(image, left, Rgb(kBack)), 0);
    EXPECT_EQ(Count(image, right, Rgb(kBar)), 0);

    // Text off leaves only the two parts.
    bar.SetShowText(false);
    image = Render(bar);
    EXPECT_EQ(Count(image, left, Rgb(kBar)) + Count(image, right, Rgb(kBack)), 200 * 24);
}

TEST(PercentProgressCtrl, NewBarFollowsThePalette)
{
    CPercentProgressCtrl bar;
    bar.resize(200, 24);
    UseCrispFont(bar);
    const QRgb highlight = bar.palette().color(QPalette::Active, QPalette::Highlight).rgb();
    const QRgb base = bar.palette().color(QPalette::Active, QPalette::Base).rgb();
    ASSERT_NE(highlight, base);

    // Empty bar, "0%" in the highlight colour.
    EXPECT_EQ(bar.DisplayText(), "0%");
    QImage image = Render(bar);
    EXPECT_GT(Count(image, bar.rect(), highlight), 0);
    EXPECT_EQ(CountOther(image, highlight, base), 0);
    EXPECT_EQ(image.pixel(1, 1), base);

    // Palette colours are looked up at each paint, not remembered.
    QPalette palette = bar.palette();
    palette.setColor(QPalette::Base, QColor(10, 20, 30));
    bar.setPalette(palette);
    EXPECT_EQ(Render(bar).pixel(1, 1), qRgb(10, 20, 30));
}

TEST(PercentProgressCtrl, VerticalBarFillsFromTheBottomWithoutText)
{
    CPercentProgressCtrl bar;
    Prepare(bar, 20, 100);
    bar.SetVertical(true);
    bar.SetPos(25);

    const QImage image = Render(bar);
    EXPECT_EQ(Count(image, QRect(0, 75, 20, 25), Rgb(kBar)), 20 * 25);
    EXPECT_EQ(Count(image, QRect(0, 0, 20, 75), Rgb(kBack)), 20 * 75);
}

TEST(PercentProgressCtrl, TextIsTheWindowTextOrTheUnclampedPercentage)
{
    CPercentProgressCtrl bar;
    Prepare(bar, 200, 24);

    bar.SetRange32(0, 1000);
    bar.SetPos(999);
    EXPECT_EQ(bar.DisplayText(), "99%");

    // Past the end: a full bar, and the percentage keeps counting.
    bar.SetRange32(0, 100);
    bar.SetPos(150);
    EXPECT_EQ(bar.DisplayText(), "150%");
    const QImage percent = Render(bar);
    EXPECT_GT(Count(percent, bar.rect(), Rgb(kBack)), 0);  // text over the bar
    EXPECT_EQ(CountOther(percent, Rgb(kBar), Rgb(kBack)), 0);
    EXPECT_EQ(percent.pixel(1, 1), Rgb(kBar));
    EXPECT_EQ(percent.pixel(198, 22), Rgb(kBar));

    // What is drawn is that string: the same picture as the literal text, unlike another one.
    bar.SetWindowText("150%");
    EXPECT_EQ(Render(bar), percent);
    bar.SetWindowText("100%");
    EXPECT_NE(Render(bar), percent);

    // Own text replaces the percentage until it is cleared.
    bar.SetWindowText("Erasing");
    EXPECT_EQ(bar.DisplayText(), "Erasing");
    EXPECT_EQ(bar.windowTitle(), QString("Erasing"));
    EXPECT_NE(Render(bar), percent);
    bar.SetWindowText(nullptr);
    EXPECT_EQ(bar.WindowText(), "");
    EXPECT_EQ(bar.DisplayText(), "150%");
    EXPECT_EQ(Render(bar), percent);
}

TEST(PercentProgressCtrl, EmptyOrInvertedRangeDrawsNothingButKeepsPositions)
{
    CPercentProgressCtrl bar;
    Prepare(bar, 200, 20);
    QImage untouched(bar.size(), QImage::Format_RGB32);
    untouched.fill(Qt::black);

    bar.SetRange32(5, 5);
    EXPECT_EQ(bar.SetPos(7), 0);
    EXPECT_EQ(bar.SetPos(3), 7);
    EXPECT_EQ(Render(bar), untouched);

    bar.SetRange32(10, 5);
    EXPECT_EQ(bar.SetPos(8), 3);
    EXPECT_EQ(Render(bar), untouched);
}

TEST(PercentProgressCtrl, SetPosRepaintsAtOnceOnlyWhenTheEdgeMoves)
{
    QWidget window;
    window.resize(300, 40);
    CountingBar bar(&window);
    bar.setGeometry(0, 0, 200, 20);
    window.show();
    Settle();
    bar.paints = 0;

    // Showing the bar sized it, so the first position always repaints, before SetPos returns.
    EXPECT_EQ(bar.SetPos(0), 0);
    EXPECT_EQ(bar.paints, 1);
    EXPECT_EQ(bar.SetPos(0), 0);
    EXPECT_EQ(bar.paints, 1);
    EXPECT_EQ(bar.SetPos(1), 0);  // edge at 2 px
    EXPECT_EQ(bar.paints, 2);

    // A new range alone is not shown, not even later.
    bar.SetRange32(0, 1000);
    Settle();
    EXPECT_EQ(bar.paints, 2);
    bar.SetPos(1);  // edge back to 0 px
    EXPECT_EQ(bar.paints, 3);
    bar.SetPos(4);  // 0.8 px: still 0
    EXPECT_EQ(bar.paints, 3);
    bar.SetPos(5);  // 1 px
    EXPECT_EQ(bar.paints, 4);

    // After a resize the same position repaints once.
    bar.resize(300, 20);
    Settle();
    bar.paints = 0;
    bar.SetPos(5);
    EXPECT_EQ(bar.paints, 1);
    bar.SetPos(5);
    EXPECT_EQ(bar.paints, 1);
}

TEST(PercentProgressCtrl, SettersReturnThePreviousValueAndScheduleRepaints)
{
    QWidget window;
    window.resize(300, 40);
    CountingBar bar(&window);
    bar.setGeometry(0, 0, 200, 20);
    window.show();
    Settle();
    bar.paints = 0;

    EXPECT_EQ(bar.SetBarColor(kBar), CLR_DEFAULT);
    EXPECT_EQ(bar.SetBarColor(kBar), kBar);
    EXPECT_EQ(bar.SetBkColor(kBack), CLR_DEFAULT);
    EXPECT_EQ(bar.SetTextColor(kWhite), CLR_DEFAULT);
    EXPECT_EQ(bar.paints, 0);  // scheduled, not immediate
    Settle();
    EXPECT_EQ(bar.paints, 1);

    // Even an unchanged colour repaints.
    bar.SetBkColor(kBack);
    Settle();
    EXPECT_EQ(bar.paints, 2);

    // Show-text and text repaint only when they change.
    bar.SetShowText(true);
    bar.SetWindowText("");
    Settle();
    EXPECT_EQ(bar.paints, 2);
    bar.SetShowText(false);
    Settle();
    EXPECT_EQ(bar.paints, 3);
    bar.SetWindowText("Erasing");
    Settle();
    EXPECT_EQ(bar.paints, 4);
    bar.SetWindowText("Erasing");
    Settle();
    EXPECT_EQ(bar.paints, 4);
}

TEST(PercentProgressCtrl, MessageArgumentsAndResults)
{
    CPercentProgressCtrl bar;
    PBRANGE range{-1, -1};

    // Both words are unsigned 16-bit.
    bar.SetRange(0x00320000u);
    EXPECT_EQ(bar.GetRange(true, &range), 0);
    EXPECT_EQ(bar.GetRange(false), 50);
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 50);
    bar.SetRange(0xFFFF8000u);
    EXPECT_EQ(bar.GetRange(true), 32768);
    EXPECT_EQ(bar.GetRange(false, &range), 65535);
    EXPECT_EQ(range.iLow, 32768);
    EXPECT_EQ(range.iHigh, 65535);

    // Stepping runs past the upper limit instead of wrapping to the lower one.
    bar.SetRange32(0, 100);
    bar.SetPos(100);
    EXPECT_EQ(bar.StepIt(), 100);
    EXPECT_EQ(bar.GetPos(), 101);
    EXPECT_EQ(bar.SetStep(10), 1);
    EXPECT_EQ(bar.StepIt(), 101);
    EXPECT_EQ(bar.DeltaPos(-11), 111);
    EXPECT_EQ(bar.GetPos(), 100);
    bar.SetPos(INT_MAX);
    bar.DeltaPos(1);
    EXPECT_EQ(bar.GetPos(), INT_MIN);

    // Text copies are cut to the buffer, always terminated.
    bar.SetWindowText("Abcdef");
    char buffer[8] = "zzzzzzz";
    EXPECT_EQ(bar.GetWindowText(buffer, 4), 3);
    EXPECT_STREQ(buffer, "Abc");
    EXPECT_EQ(bar.GetWindowText(buffer, 1), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(bar.GetWindowText(buffer, sizeof buffer), 6);
    EXPECT_STREQ(buffer, "Abcdef");
    EXPECT_EQ(bar.GetWindowText(buffer, 0), 0);
    EXPECT_STREQ(buffer, "Abcdef");
}

TEST(OffscreenDC, DeliversTheRectangleInOneGoOnDestruction)
{
    QImage target(50, 50, QImage::Format_RGB32);
    target.fill(Qt::white);
    {
        QPainter painter(&target);
        COffscreenDC dc(&painter, QRect(10, 20, 20, 10));
        // Callers draw in the target's coordinates; the rectangle bounds what arrives.
        dc->fillRect(QRect(0, 0, 50, 50), Qt::blue);
        dc->fillRect(QRect(10, 20, 5, 5), Qt::red);
        EXPECT_EQ(target.pixel(12, 22), qRgb(255, 255, 255));  // nothing yet
    }
    EXPECT_EQ(target.pixel(10, 20), qRgb(255, 0, 0));
    EXPECT_EQ(target.pixel(14, 24), qRgb(255, 0, 0));
    EXPECT_EQ(target.pixel(15, 24), qRgb(0, 0, 255));
    EXPECT_EQ(target.pixel(29, 29), qRgb(0, 0, 255));
    EXPECT_EQ(Count(target, target.rect(), qRgb(0, 0, 255)) + Count(target, target.rect(), qRgb(255, 0, 0)),
              20 * 10);
    EXPECT_EQ(target.pixel(9, 20), qRgb(255, 255, 255));
    EXPECT_EQ(target.pixel(30, 29), qRgb(255, 255, 255));
    EXPECT_EQ(target.pixel(10, 30), qRgb(255, 255, 255));
}
