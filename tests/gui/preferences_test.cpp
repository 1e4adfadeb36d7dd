#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "serial/port_list.h"
#include "session/port_binding.h"
#include "ui/preferences_dialog.h"
#include "window_fixture.h"

// These tests never open a COMn port: on a real machine that would be someone's serial line.
// The window's port checks run with device paths that name nothing.

namespace {

constexpr const char* kAdapterA = "/dev/orbix-test-adapter-a";
constexpr const char* kAdapterB = "/dev/orbix-test-adapter-b";

void Press(QDialog* dialog, const char* text) {
    for (QPushButton* button : dialog->findChildren<QPushButton*>())
        if (button->text() == text) QTest::mouseClick(button, Qt::LeftButton);
}

void Select(QComboBox* list, const QString& text) {
    if (list->findText(text) < 0) list->addItem(text, text);  // as if the system listed it
    list->setCurrentIndex(list->findText(text));
}

// The system lists what a test says it has (nothing unless it says).
class PreferencesDialogTest : public testing::Test {
protected:
    void SetUp() override {
        ClearSettings();
        ReplaceSystemPorts([this] { return systemPorts; });
    }
    void TearDown() override { ReplaceSystemPorts({}); }
    CSettingsStore settings;
    std::vector<SystemPort> systemPorts;
};

TEST_F(PreferencesDialogTest, ListsCom1ToCom16AndMarksTheStoredPortAbsent) {
    settings.WriteInt(KEY_COM_PORT, 7);
    CPreferencesDialog dialog(settings);
    QComboBox* list = dialog.PortList();
    EXPECT_EQ(dialog.windowTitle(), "Preferences");
    EXPECT_TRUE(list->isEditable());  // network ports are typed in
    ASSERT_EQ(list->count(), 16);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(list->itemText(i), QString("COM%1%2").arg(i + 1).arg(i == 6 ? " (absent)" : ""));
    EXPECT_EQ(list->currentText(), "COM7 (absent)");
}

// What the system has comes first, with its description and in bold; COM1 to COM16 follow
// without those it has; a stored adapter unplugged now stays the choice, marked absent.
TEST_F(PreferencesDialogTest, ListsThePortsTheSystemHasFirstWithWhatItSaysOfThem) {
    systemPorts.resize(2);
    systemPorts[0].device = "/dev/ttyUSB7";
    systemPorts[0].description = "FT232R USB UART";
    systemPorts[0].serialNumber = "A50285BI";
    systemPorts[1].device = ComDeviceName(3);
    settings.WriteString(KEY_PORT_NAME, kAdapterA);
    CPreferencesDialog dialog(settings);
    QComboBox* list = dialog.PortList();
    ASSERT_EQ(list->count(), 2 + 1 + 15 + 1);
    EXPECT_EQ(list->itemText(0), "COM3 - " + QString::fromStdString(ComDeviceName(3)));
    EXPECT_EQ(list->itemText(1), "/dev/ttyUSB7 - FT232R USB UART A50285BI");
    for (int i : {0, 1}) {
        EXPECT_TRUE(list->itemData(i, Qt::FontRole).value<QFont>().bold()) << i;
        EXPECT_FALSE(list->itemData(i, CPreferencesDialog::PROBE_NAME_ROLE).toString().isEmpty()) << i;
    }
    EXPECT_EQ(list->itemText(3), "COM1");
    EXPECT_EQ(list->findText("COM3"), -1);  // listed once, with what the system says
    EXPECT_FALSE(list->itemData(3, Qt::FontRole).value<QFont>().bold());
    EXPECT_EQ(list->currentText(), QString(kAdapterA) + " (absent)");
    EXPECT_EQ(list->currentIndex(), list->count() - 1);

    list->setCurrentIndex(0);  // the described COM3 stores the number, as COM3 always has
    Press(&dialog, "Apply");
    EXPECT_EQ(settings.GetInt(KEY_COM_PORT, -1), 3);
    EXPECT_EQ(settings.GetString(KEY_PORT_NAME, "?"), "");
}

TEST_F(PreferencesDialogTest, ApplyStoresTheChoiceAndCancelStoresNothing) {
    {
        CPreferencesDialog dialog(settings);
        EXPECT_EQ(dialog.PortList()->currentText(), "COM1 (absent)");  // nothing stored yet: the default
        Press(&dialog, "Apply");
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(settings.GetInt(KEY_COM_PORT, -1), 1);
    }
    {
        CPreferencesDialog dialog(settings);
        Select(dialog.PortList(), "COM16");
        Press(&dialog, "Apply");
        EXPECT_EQ(settings.GetInt(KEY_COM_PORT, -1), 16);
    }
    {
        CPreferencesDialog dialog(settings);
        Select(dialog.PortList(), "COM3");
        Press(&dialog, "Cancel");
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_EQ(settings.GetInt(KEY_COM_PORT, -1), 16);
    }
}

TEST_F(PreferencesDialogTest, AStoredPortOutsideTheListSelectsNothingAndApplyStoresZero) {
    settings.WriteInt(KEY_COM_PORT, 42);
    CPreferencesDialog dialog(settings);
    EXPECT_EQ(dialog.PortList()->currentIndex(), -1);
    Press(&dialog, "Apply");
    EXPECT_EQ(settings.GetInt(KEY_COM_PORT, -1), 0);
}

TEST_F(PreferencesDialogTest, ADevicePathIsKeptByNameUntilACommonPortIsChosen) {
    settings.WriteInt(KEY_COM_PORT, 2);
    settings.WriteString(KEY_PORT_NAME, kAdapterA);
    {
        // An adapter that is unplugged right now is still listed, and chosen.
        CPreferencesDialog dialog(settings);
        EXPECT_EQ(dialog.PortList()->currentText(), QString(kAdapterA) + " (absent)");
        Select(dialog.PortList(), kAdapterB);
        Press(&dialog, "Apply");
        EXPECT_EQ(settings.GetString(KEY_PORT_NAME, "?"), kAdapterB);
        EXPECT_EQ(settings.GetInt(KEY_COM_PORT, -1), 2);
    }
    {
        CPreferencesDialog dialog(settings);
        Select(dialog.PortList(), "COM4");
        Press(&dialog, "Apply");
        EXPECT_EQ(settings.GetString(KEY_PORT_NAME, "?"), "");
        EXPECT_EQ(settings.GetInt(KEY_COM_PORT, -1), 4);
    }
}

TEST_F(PreferencesDialogTest, ATypedPortIsStoredByNameOrNumberAndNonsenseIsRefused) {
    const char* const network = "rfc2217://[fd00::7]:4001";
    struct Typed {
        const char* text;
        int comPort;
        const char* portName;
    };
    for (const Typed& t : {Typed{network, 2, network}, Typed{" COM9 ", 9, ""}, Typed{"/dev/ttyS19", 20, ""},
                           Typed{"tcp://keypad-gw:2000", 2, "tcp://keypad-gw:2000"}}) {
        settings.WriteInt(KEY_COM_PORT, 2);
        CPreferencesDialog dialog(settings);
        dialog.PortList()->setEditText(t.text);
        Press(&dialog, "Apply");
        EXPECT_EQ(dialog.result(), QDialog::Accepted) << t.text;
        EXPECT_EQ(settings.GetInt(KEY_COM_PORT, -1), t.comPort) << t.text;
        EXPECT_EQ(settings.GetString(KEY_PORT_NAME, "?"), t.portName) << t.text;
    }
    {
        // The stored network port is listed and chosen next time.
        CPreferencesDialog dialog(settings);
        EXPECT_EQ(dialog.PortList()->currentText(), "tcp://keypad-gw:2000");
    }
    for (const char* nonsense : {"tcp://keypad-gw", "keypad", "COM0"}) {
        CPreferencesDialog dialog(settings);
        dialog.PortList()->setEditText(nonsense);
        std::string box;
        OnNextModal<QMessageBox>([&box](QMessageBox* message) {
            box = message->text().toStdString();
            message->accept();
        });
        Press(&dialog, "Apply");
        EXPECT_NE(dialog.result(), QDialog::Accepted) << nonsense;
        EXPECT_EQ(box, std::string("\"") + nonsense +
                           "\" is not a port. Choose one from the list, or type a device path, "
                           "rfc2217://HOST:PORT or tcp://HOST:PORT.");
        EXPECT_EQ(settings.GetString(KEY_PORT_NAME, "?"), "tcp://keypad-gw:2000") << nonsense;
    }
}

TEST_F(PreferencesDialogTest, APortGivenForTheRunIsSelectedAndAnUnchangedApplyStoresNothing) {
    settings.WriteInt(KEY_COM_PORT, 7);
    const PortSpec byNumber{3, ComDeviceName(3)};  // --port 3 (a path is tried with the keypad below)
    {
        CPreferencesDialog dialog(settings, &byNumber);
        EXPECT_EQ(dialog.PortList()->currentText(), "COM3");
        Press(&dialog, "Apply");
        EXPECT_TRUE(dialog.KeptPortForRun());
        EXPECT_EQ(settings.GetInt(KEY_COM_PORT, -1), 7);
    }
    {
        CPreferencesDialog dialog(settings, &byNumber);
        Select(dialog.PortList(), "COM5");
        Press(&dialog, "Apply");
        EXPECT_FALSE(dialog.KeptPortForRun());
        EXPECT_EQ(settings.GetInt(KEY_COM_PORT, -1), 5);
    }
}

// Preferences from the window's menu, and the port check that follows it.
class PreferencesCommandTest : public testing::Test {
protected:
    void SetUp() override { ClearSettings(); }

    void StartOn(const char* device) {
        window.Settings().WriteString(KEY_PORT_NAME, device);
        window.OnInitDialog();
    }

    // Opens Preferences, lets `choose` pick a port, then presses `button`.
    void RunPreferences(const char* choice, const char* button) {
        OnNextModal<CPreferencesDialog>([choice, button](CPreferencesDialog* dialog) {
            if (choice) Select(dialog->PortList(), choice);
            Press(dialog, button);
        });
        window.OnPreferences();
    }

    CRecordingDialog window;
};

TEST_F(PreferencesCommandTest, ClosingWithoutAChangeLeavesTheUnavailablePortAlone) {
    StartOn(kAdapterA);
    ASSERT_EQ(window.boxes.size(), 1u);
    RunPreferences(nullptr, "Apply");
    RunPreferences(kAdapterB, "Cancel");
    EXPECT_EQ(window.boxes.size(), 1u);  // no second "not available"
    EXPECT_EQ(window.Binding().PortInUse().device, kAdapterA);
}

TEST_F(PreferencesCommandTest, ApplyingAnotherPortReopensAtOnce) {
    StartOn(kAdapterA);
    RunPreferences(kAdapterB, "Apply");
    EXPECT_EQ(window.Binding().PortInUse().device, kAdapterB);
    ASSERT_EQ(window.boxes.size(), 2u);
    const std::string text = std::string("COM Port: ") + kAdapterB + " not available";
    EXPECT_EQ(window.boxes[1].text, text + "\n" + kAdapterB + ": no such device");
    EXPECT_EQ(window.StatusLine()->text().toStdString(), text);
}

// A settings file that cannot be written (here a folder stands in its place: root may write
// anywhere else) is said once, with the reason, and the window goes on.
TEST_F(PreferencesCommandTest, SettingsThatCannotBeSavedAreSaidOnce) {
    StartOn(kAdapterA);
    const QString file = window.Settings().FileName();
    ASSERT_TRUE(QFile::remove(file) && QDir().mkdir(file));
    RunPreferences(kAdapterB, "Apply");
    RunPreferences(kAdapterA, "Apply");
    QDir(file).removeRecursively();
    int said = 0;
    for (const auto& box : window.boxes)
        if (box.text.find("The settings could not be saved to " + file.toStdString() + ": ") == 0) ++said;
    EXPECT_EQ(said, 1);
    EXPECT_EQ(window.Binding().PortInUse().device, kAdapterA);
}

TEST_F(PreferencesCommandTest, APortGivenForTheRunGivesWayOnlyToAnAppliedChoice) {
    window.SetPortOverride(PortSpec{0, NO_SUCH_PORT});
    StartOn(kAdapterA);
    EXPECT_EQ(window.Binding().PortInUse().device, NO_SUCH_PORT);

    RunPreferences(kAdapterB, "Cancel");
    EXPECT_EQ(window.Binding().PortInUse().device, NO_SUCH_PORT);

    RunPreferences(kAdapterB, "Apply");
    EXPECT_EQ(window.Binding().PortInUse().device, kAdapterB);
    EXPECT_EQ(window.Settings().GetString(KEY_PORT_NAME, ""), kAdapterB);
}

#ifdef ORBIX_HAVE_SIM
// As --simulate runs it: the simulated keypad stays the window's port through an unchanged Apply.
class PreferencesWithKeypadTest : public WindowWithKeypad {};

TEST_F(PreferencesWithKeypadTest, AnUnchangedApplyKeepsTheSimulatedKeypad) {
    StartKeypad(KeypadConfig{});
    QString shown;
    OnNextModal<CPreferencesDialog>([&shown](CPreferencesDialog* dialog) {
        shown = dialog->PortList()->currentText();
        Press(dialog, "Apply");
    });
    window.OnPreferences();
    EXPECT_EQ(shown.toStdString(), keypad->DevicePath());
    EXPECT_EQ(window.Binding().PortInUse().device, keypad->DevicePath());
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_EQ(window.Settings().GetInt(KEY_COM_PORT, -1), -1);

    QTest::mouseClick(window.TestConnectionButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitUntilIdle(3000));
    EXPECT_EQ(window.StatusLine()->text(), "ORBIX detected!");
}
#endif

}  // namespace
