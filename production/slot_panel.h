#pragma once
#include <QFrame>
#include <QString>
#include <functional>

class CBenchSlot;
class CPercentProgressCtrl;
class QPushButton;

// Text a panel paints itself: a change repaints only it and never lays out
// the bench again, which 32 panels changing several times a second would.
class CPanelText : public QWidget {
public:
    CPanelText(int lines, QWidget* parent);

    // The first line in bold (elided in the middle), the second's left part in
    // bold with `right` beside it, then `body` wrapped over the lines left.
    void Set(const QString& title, const QString& left, const QString& right, const QString& body);
    const QString& Body() const { return m_body; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_lines;
    QString m_title, m_left, m_right, m_body;
};

// One slot on the bench: its name and port, its state in a word, a colour and
// a sentence, the bar the main window draws, the time remaining, its counts,
// and its Start and Stop.
class CSlotPanel : public QFrame {
public:
    CSlotPanel(CBenchSlot& slot, QWidget* parent);

    // Shows the slot as it stands now.
    void Refresh();
    // What it says, for the tests.
    QString StateText() const { return m_head->Body(); }

    std::function<void()> onStart;
    std::function<void()> onStop;

private:
    CBenchSlot& m_slot;
    CPanelText* m_head;
    CPercentProgressCtrl* m_bar;
    CPanelText* m_time;
    QPushButton* m_start;
    QPushButton* m_stop;
    int m_shownState = -1;
};

// A state's word ("UPDATING"), the same on every panel.
const char* SlotStateWord(int state);
