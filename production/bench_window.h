#pragma once
#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_database.h"
#include "bench_slot.h"
#include "session/bench_profile.h"
#include "session/keypad_run.h"
#include "unit_rate.h"

class CSlotPanel;
class QAction;
class QGridLayout;
class QLabel;
class QListWidget;
class QMessageBox;
class QScrollArea;

// The production bench: a panel per slot, the totals at the top, the last
// records below, every slot on its own station. Opens a profile, or makes one.
class CBenchWindow : public QMainWindow {
public:
    CBenchWindow();
    ~CBenchWindow() override;

    // --log FILE: the records go there whatever the profile says.
    void SetLogOverride(const std::string& path) { m_logOverride = path; }
    // Reads the profile at `path` and sets the bench up from it; false with the reason said in a box.
    bool OpenProfile(const std::string& path);
    // A profile that is no file (--simulate); `path` is where its relative names start.
    bool UseProfile(const BenchProfile& profile, const std::string& path);
    // Says what went wrong; a box unless replaced.
    std::function<void(const std::string&)> warn;

    void StartAll();
    // Stops every slot; asks first when an update has erased (unless `ask` is false).
    void StopAll(bool ask = true);
    // A signal or the session's end: every slot stopped in order, its record
    // written, then the program ends with `exitCode`.
    void Quit(int exitCode);
    // The program is made to end now, its event loop gone (the display went
    // away): every slot stopped as for a signal, its record written, its
    // port let go, waiting here. Returns the exit code: a signal's that came
    // before, else SIGHUP's (the desktop session ended).
    int EndNow();

    // For the tests: the panels as the slots stand now, without waiting for the next redraw.
    void RefreshPanels();
    CBenchSlot& Slot(size_t i) { return *m_slots[i]; }
    size_t SlotCount() const { return m_slots.size(); }
    CSlotPanel& Panel(size_t i) { return *m_panels[i]; }
    QWidget* SlotArea() const;
    const std::string& Refusal() const { return m_refusal; }
    int OkCount() const;
    int FailedCount() const;
    size_t RecordsWaiting() const { return m_database->Waiting(); }
    QListWidget* Records() const { return m_records; }
    bool IsLocked() const { return m_profile.locked; }
    // Who the records name (the badge scanned or the name typed); empty: nobody yet.
    const std::string& Operator() const { return m_operator; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void MakeMenus();
    void MakeTotals(QWidget* parent, class QVBoxLayout* layout);
    void BuildSlots();
    void LayOutPanels(bool always);
    bool Prepare();  // the run set up from the profile; false: m_refusal says why
    void ShowUnit(const SessionResult& result);
    void Note(const std::string& text);
    void StopSlot(size_t i);
    // bench_window_labels.cpp: the labels scanned and the operator.
    void Scanned(const std::string& code);
    // False when the bench cannot start (said) or asks who operates it first, then runs `then`.
    bool ReadyToStart(const std::function<void()>& then);
    void AskOperator(const std::function<void()>& then);
    void MakeStatusBar();
    void ShowOperator();
    void AskToStop(int slot, const std::string& question);
    void SlotChanged(size_t i);
    void SlotEnded();
    void RefreshTotals();
    void StartClock();
    void ShowReport();  // File > Report: the shift's report of the bench's log  // the first Start: units per hour
                        // count from here
    void ApplyLock();
    void ToggleLock();
    void NewProfile();
    void EditProfile();
    void OpenProfileChosen();
    void SaveProfileAs();
    void ChooseWhereToSave();
    bool AnyRunning() const;
    bool AnyErased() const;
    void Warn(const std::string& text);

    BenchProfile m_profile;
    std::string m_profilePath;
    std::string m_logOverride;
    CBenchPolicy m_policy;
    QLabel* m_databaseLabel = nullptr;
    // Outlives the run, which sends its records there.
    std::unique_ptr<CBenchDatabase> m_database;

    std::unique_ptr<CKeypadRun> m_run;  // the profile's stations; outlives the slots, its views
    std::string m_refusal;              // why the bench cannot start, empty when it can
    std::vector<std::unique_ptr<CBenchSlot>> m_slots;
    std::vector<CSlotPanel*> m_panels;
    QTimer m_repaint;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_grid = nullptr;
    QGridLayout* m_gridLayout = nullptr;
    int m_columns = 0;
    QLabel* m_imageLabel = nullptr;
    QLabel* m_totalsLabel = nullptr;
    QLabel* m_refusalLabel = nullptr;
    QListWidget* m_records = nullptr;
    QAction* m_new = nullptr;
    QAction* m_open = nullptr;
    QAction* m_edit = nullptr;
    QAction* m_saveAs = nullptr;
    QAction* m_lock = nullptr;
    QAction* m_startAll = nullptr;
    QAction* m_stopAll = nullptr;
    class CScanInput* m_scan = nullptr;
    std::string m_operator;
    QLabel* m_operatorLabel = nullptr;
    QMessageBox* m_question = nullptr;  // the stop question open now
    int m_questionSlot = -1;            // whose; -1: every slot's
    QElapsedTimer m_sinceStart;         // since the first Start
    CUnitRate m_rate;                   // units per hour, by when each ended
    int m_unitsCounted = 0;             // units given to m_rate so far
    QTimer m_rateClock;                 // the rate moves as time passes, also while no unit ends
    bool m_closing = false;             // the window closes once every slot has stopped
    int m_quitCode = -1;                // a signal's: the program ends once every slot has stopped
};
