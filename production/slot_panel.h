#pragma once
#include <QFrame>
#include <functional>

class CBenchSlot;
class CPercentProgressCtrl;
class QLabel;
class QPushButton;

// One slot on the bench: its name and port, its state in a word, a colour and
// a sentence, the bar the main window draws, the time remaining, its counts,
// and its Start and Stop.
class CSlotPanel : public QFrame {
public:
    CSlotPanel(CBenchSlot& slot, QWidget* parent);

    // Shows the slot as it stands now.
    void Refresh();

    std::function<void()> onStart;
    std::function<void()> onStop;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void ShowTitle();  // elided in the middle to the panel's width

    CBenchSlot& m_slot;
    QLabel* m_title;
    QLabel* m_word;
    QLabel* m_text;
    CPercentProgressCtrl* m_bar;
    QLabel* m_time;
    QLabel* m_counts;
    QPushButton* m_start;
    QPushButton* m_stop;
    int m_shownState = -1;
};

// A state's word and colour ("UPDATING", yellow), the same on every panel.
const char* SlotStateWord(int state);
