#pragma once
#include <QFrame>
#include <QString>
#include <functional>

class CBenchSlot;
class CPercentProgressCtrl;
class QPushButton;

// What a panel says, painted in one widget so that a change repaints only it
// and never lays out the bench again (32 panels change several times a
// second). It takes the room its panel has: the state word up to six times
// the body text and never under three where the room allows, the body up to
// twice; on a crowded bench the state word shrinks down to 1.25 times, then
// the body text, so that the reason is always shown whole.
class CSlotFace : public QWidget {
public:
    explicit CSlotFace(QWidget* parent);

    // The slot's `name` and `port` on the first line (the port shortened in
    // the middle), `state` large, then `body` wrapped.
    void Set(const QString& name, const QString& port, const QString& state, const QString& body);
    const QString& Body() const { return m_body; }
    // Whether the body was shown whole, as last painted (for the tests).
    bool BodyWhole() const { return m_bodyWhole; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The height the text takes with the state and body fonts given.
    int Height(const QFont& state, const QFont& body) const;

    QString m_name, m_port, m_state, m_body;
    QSize m_fittedSize;  // what the scales below were fitted to
    QString m_fittedBody;
    double m_stateScale = 0, m_bodyScale = 1;
    bool m_bodyWhole = true;
};

// One slot on the bench: its name and port, its state in a word with a
// symbol and a colour, what happened and what to do, the bar the main window
// draws, the time remaining, its counts, and its Start and Stop.
class CSlotPanel : public QFrame {
public:
    CSlotPanel(CBenchSlot& slot, QWidget* parent);

    // Shows the slot as it stands now.
    void Refresh();
    // What it says, for the tests.
    QString StateText() const { return m_face->Body(); }
    const CSlotFace& Face() const { return *m_face; }

    std::function<void()> onStart;
    std::function<void()> onStop;
    bool sound = false;  // a sound when the slot comes to need the operator (done, failed)

private:
    CBenchSlot& m_slot;
    CSlotFace* m_face;
    CPercentProgressCtrl* m_bar;
    class QLabel* m_time;
    class QLabel* m_counts;
    QPushButton* m_start;
    QPushButton* m_stop;
    QPushButton* m_again;
    QPushButton* m_notAgain;
    int m_shownState = -1;
};

// A state's word ("UPDATING"), the same on every panel.
const char* SlotStateWord(int state);
