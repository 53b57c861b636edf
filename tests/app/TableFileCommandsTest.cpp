// Save As and Open through the in-memory window and real files: what reaches the disk, what comes back,
// and what happens when a save or a load cannot be done.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <sstream>
#include <string>

#include "app/ControlIds.h"
#include "app/RadioConfigDialog.h"
#include "device/SafeFile.h"
#include "tablefile/TableFile.h"
#include "tests/support/MemoryDialogControls.h"

namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class TableFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> made{0};
        folder = fs::temp_directory_path() /
                 ("vantor-tablefile-" +
                  std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
                  std::to_string(made++));
        fs::create_directories(folder);
        dialog.OnInitDialog();
    }
    void TearDown() override { fs::remove_all(folder); }

    // The example window: two texts, the settings and three filled rows.
    void FillWindow() {
        controls.SetDlgItemText(ctl::kSerialNumberEdit, "A17-B42");
        controls.SetDlgItemText(ctl::kUserDescriptionEdit, "Unit 12");
        controls.SetDlgItemText(ctl::kMinVolumeEdit, "5");
        controls.SetDlgItemText(ctl::kDtmfDelayEdit, "3");
        controls.SetCurSel(ctl::kSquelchList, 0);
        controls.SetCurSel(ctl::kDispList, 1);
        controls.SetCurSel(ctl::kRadioMfgList, 0);
        dialog.SetHomeNumberRow(1, "123", "456");
        dialog.SetHomeNumberRow(2, "12", "34");
        dialog.SetPllColumns(2, "123.4", "");
        dialog.SetHomeNumberRow(7, "777", "888");
        dialog.SetPllColumns(7, "123.4", "234.5");
    }
    void Save(const fs::path& path) {
        controls.fileAnswers.push_back(path.string());
        dialog.OnSaveAs();
    }
    void Open(const fs::path& path) {
        controls.yesNoAnswers.push_back(true);
        controls.fileAnswers.push_back(path.string());
        dialog.OnOpen();
    }

    fs::path folder;
    MemoryDialogControls controls;
    RadioConfigDialog dialog{controls};
};

TEST_F(TableFileTest, SaveWritesTheWindowAndOpenBringsItBack) {
    FillWindow();
    const fs::path file = folder / "table.txt";
    Save(file);
    EXPECT_EQ(
        Contents(file),
        "SerialNumber: A17-B42\r\nUserDescript: Unit 12\r\nMINvolume: 5\r\nDTMFDelay: 3\r\nWideBand: 1\r\n"
        "'SQUELCH': 1\r\n'DISP': 2\r\nRadioMfg: 1\r\nChannels: \r\n1 123 456 \r\n2 12 34 PLTX 123.4 \r\n"
        "7 777 888 PLTX 123.4 PLRX 234.5 \r\n");
    EXPECT_EQ(controls.fileChoices.back().filter, "Text files (*.txt)|*.txt|All files (*.*)|*.*||");
    EXPECT_EQ(controls.fileChoices.back().defaultExtension, "txt");
    EXPECT_EQ(controls.fileChoices.back().initialName, "*.txt");
    EXPECT_EQ(dialog.DispChoice(), 2);  // saving refreshes the selection values

    MemoryDialogControls::Control serial = controls.At(ctl::kSerialNumberEdit);
    controls.SetDlgItemText(ctl::kSerialNumberEdit, "changed");
    controls.SetCurSel(ctl::kDispList, 0);
    controls.SetDlgItemText(ctl::kMinVolumeEdit, "-16");  // a device can put it there
    Save(folder / "negative.txt");
    Open(file);
    EXPECT_EQ(controls.messages.back().text,
              "This will delete your current table.\r\nDo you wish to continue?");
    EXPECT_EQ(controls.messages.back().caption, "Open File Notice");
    EXPECT_EQ(controls.GetDlgItemText(ctl::kSerialNumberEdit), serial.text);
    EXPECT_EQ(controls.GetCurSel(ctl::kDispList), 1);
    EXPECT_EQ(controls.GetDlgItemText(ctl::kMinVolumeEdit), "5");
    EXPECT_EQ(controls.rows[6], (std::vector<std::string>{"7", "777", "888", "123.4", "234.5"}));
    EXPECT_EQ(controls.rows[2], (std::vector<std::string>{"3", "", "", "", ""}));
    Open(folder / "negative.txt");
    EXPECT_EQ(controls.GetDlgItemText(ctl::kMinVolumeEdit), "-16");
    EXPECT_EQ(controls.rows.size(), 500U);
    EXPECT_EQ(dialog.LogContents(), file.string() + "\r\n" + (folder / "negative.txt").string() + "\r\n" +
                                        file.string() + "\r\n" + (folder / "negative.txt").string() + "\r\n");
}

// The old table goes only once the chosen file is in memory: No, Cancel and a file that cannot be read
// leave the table, the settings and the unsaved mark as they were, so that closing still asks.
TEST_F(TableFileTest, OpenKeepsTheTableUntilAFileIsRead) {
    controls.SetDlgItemText(ctl::kNumberEdit, "5");
    controls.SetDlgItemText(ctl::kTxEdit, "12");
    controls.SetDlgItemText(ctl::kRxEdit, "34");
    dialog.OnAdd();
    controls.SetDlgItemText(ctl::kDtmfDelayEdit, "7");
    const auto table = controls.rows;
    const fs::path missing = folder / "nothing here.txt";
    const struct {
        const char* name;
        bool yes;
        std::optional<std::string> file;
        std::string log;
    } cases[] = {
        {"No", false, std::nullopt, ""},
        {"Yes, then Cancel", true, std::nullopt, ""},
#ifndef _WIN32
        {"a file that is not there", true, missing.string(),
         missing.string() + "\r\nCannot open file: No such file or directory\r\n"},
#endif
    };
    for (const auto& c : cases) {
        controls.yesNoAnswers = {c.yes};
        controls.fileAnswers = {c.file};
        dialog.OnClearScreen();
        dialog.OnOpen();
        EXPECT_EQ(controls.rows, table) << c.name;
        EXPECT_EQ(controls.GetDlgItemText(ctl::kDtmfDelayEdit), "7") << c.name;
        EXPECT_TRUE(dialog.TableChanged()) << c.name;
        EXPECT_EQ(dialog.LogContents(), c.log) << c.name;
    }
    controls.yesNoAnswers = {false};
    dialog.OnCancel();
    EXPECT_EQ(controls.messages.back().text, "The table has changes that are not saved. Close anyway?");
    EXPECT_FALSE(controls.endResult);

    const fs::path file = folder / "table.txt";
    std::ofstream(file, std::ios::binary) << "Channels: \r\n9 11 22 \r\n";
    Open(file);
    EXPECT_EQ(controls.rows[4], (std::vector<std::string>{"5", "", "", "", ""}));
    EXPECT_EQ(controls.rows[8], (std::vector<std::string>{"9", "11", "22", "", ""}));
    EXPECT_FALSE(dialog.TableChanged());
    // The rows added before the file was opened went with the old table: closing asks nothing.
    const std::size_t asked = controls.messages.size();
    dialog.OnCancel();
    EXPECT_EQ(controls.endResult, std::optional<int>(ctl::kIdCancel));
    EXPECT_EQ(controls.messages.size(), asked);
}

// A table file the size of the table file limit opens, and so does one far larger than any saved table
// (500 full rows followed by blank lines); a byte more than the limit is refused before the table goes.
TEST_F(TableFileTest, OpenTakesAFileUpToTheTableFileLimit) {
    std::string table =
        "SerialNumber: S1\r\nUserDescript: D1\r\nMINvolume: 5\r\nDTMFDelay: 3\r\nChannels: \r\n";
    for (int n = 1; n <= 500; ++n) {
        table += std::to_string(n) + " 123 456" + (n <= 100 ? " PLTX 146.5 PLRX 6553.4" : "") + " \r\n";
    }
    const auto padded = [&](std::size_t size) {
        std::string file = table;
        while (file.size() + 2 <= size) file += "\r\n";
        file.resize(size, ' ');
        return file;
    };
    const fs::path file = folder / "table.txt";
    for (const std::size_t size : {std::size_t{100000}, tablefile::kLargestTableFile}) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << padded(size);
        ASSERT_EQ(fs::file_size(file), size);
        dialog.SetHomeNumberRow(2, "77", "88");
        dialog.OnClearScreen();
        Open(file);
        EXPECT_EQ(dialog.LogContents(), file.string() + "\r\n") << size;
        EXPECT_EQ(controls.rows[1], (std::vector<std::string>{"2", "123", "456", "146.5", "6553.4"})) << size;
        EXPECT_EQ(controls.rows[499], (std::vector<std::string>{"500", "123", "456", "", ""})) << size;
        EXPECT_EQ(controls.GetDlgItemText(ctl::kSerialNumberEdit), "S1") << size;
    }

    fs::resize_file(file, tablefile::kLargestTableFile + 1);
    dialog.SetHomeNumberRow(2, "77", "88");
    const auto kept = controls.rows;
    dialog.OnClearScreen();
    Open(file);
    EXPECT_EQ(dialog.LogContents(),
              file.string() + "\r\nCannot open file: larger than a table file can be\r\n");
    EXPECT_EQ(controls.rows, kept);
}

// Only a file of at most the limit is read, whether it comes in one piece of reading or several.
TEST_F(TableFileTest, ReadWholeFileReadsAFileOfAtMostItsLimit) {
    const struct {
        std::size_t size;
        std::size_t limit;
        bool read;
    } cases[] = {
        {0, 0, true},           {1, 0, false},           {0, 10, true},          {9, 10, true},
        {10, 10, true},         {11, 10, false},         {65536, 65536, true},   {65537, 65536, false},
        {200007, 200007, true}, {200008, 200007, false}, {200006, 200007, true},
    };
    const fs::path file = folder / "bytes.bin";
    for (const auto& c : cases) {
        std::string bytes(c.size, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 251);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
        const auto result = ReadWholeFile(file.string(), c.limit);
        const std::string name = std::to_string(c.size) + " bytes, limit " + std::to_string(c.limit);
        if (c.read) {
            ASSERT_TRUE(result.value) << name << ": " << result.outcome.reason;
            EXPECT_EQ(*result.value, bytes) << name;
        } else {
            ASSERT_FALSE(result.value) << name;
            EXPECT_EQ(result.outcome.kind, Outcome::Kind::kFileFailed) << name;
            EXPECT_EQ(result.outcome.reason, "larger than a table file can be") << name;
            EXPECT_EQ(result.outcome.path, file.string()) << name;
        }
    }
}

// A loading that ends before the end of its file says where and why; a row beyond the table is named and
// the loading goes on. What was loaded before the stop stays.
TEST_F(TableFileTest, OpenSaysWhereTheLoadingStoppedAndWhichRowsHadNoPlace) {
    const struct {
        std::string file;
        std::string log;
        std::vector<std::string> row2, row500;
    } cases[] = {
        {"DTMFDelay: 9\r\nChannels: \r\n500 12 34 \r\n501 56 78 PLTX 1.5 \r\n2 11 22 PLTX 146.5 MHz\r\n3 33 "
         "44 \r\n",
         "Home number 501 ignored: the table has 500 rows\r\nLoading stopped at line 5: MHz is not a home "
         "number\r\n",
         {"2", "11", "22", "146.5", ""},
         {"500", "12", "34", "", ""}},
        {"DTMFDelay: 9\r\nMINvolume: x\r\nChannels: \r\n2 12 34\r\n",
         "Loading stopped at line 2: no number after MINvolume:\r\n",
         {"2", "", "", "", ""},
         {"500", "", "", "", ""}},
        {"DTMFDelay: 9\r\nChannels: \r\n500 12 34", "", {"2", "", "", "", ""}, {"500", "12", "34", "", ""}},
    };
    for (const auto& c : cases) {
        const fs::path file = folder / "table.txt";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << c.file;
        dialog.SetHomeNumberRow(2, "77", "88");
        dialog.OnClearScreen();
        Open(file);
        EXPECT_EQ(dialog.LogContents(), file.string() + "\r\n" + c.log) << c.file;
        EXPECT_EQ(controls.rows[1], c.row2) << c.file;
        EXPECT_EQ(controls.rows[499], c.row500) << c.file;
        EXPECT_EQ(controls.rows.size(), 500U);
        EXPECT_EQ(controls.GetDlgItemText(ctl::kDtmfDelayEdit), "9") << c.file;
    }
}

#ifndef _WIN32
// A named pipe would hold the window until some program wrote to it; a device or a folder is no table
// file either. Each is refused at once, the table kept. Should the pipe ever be waited on, a writer comes
// after a hang-sized wait so that the test fails rather than hangs.
TEST_F(TableFileTest, OpenAndSaveTakeOnlyARegularFile) {
    const fs::path pipe = folder / "pipe.txt";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    fs::create_directory(folder / "a folder");
    dialog.SetHomeNumberRow(5, "12", "34");
    const auto table = controls.rows;
    const std::pair<fs::path, std::string> cases[] = {{pipe, "not a regular file"},
                                                      {"/dev/null", "not a regular file"},
                                                      {folder / "a folder", "Is a directory"}};
    for (const auto& [path, reason] : cases) {
        dialog.OnClearScreen();
        auto done = std::async(std::launch::async, [&] { Open(path); });
        if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << path << ": Open waits for a writer";
            close(open(pipe.c_str(), O_WRONLY | O_NONBLOCK));
        }
        done.wait();
        EXPECT_EQ(dialog.LogContents(), path.string() + "\r\nCannot open file: " + reason + "\r\n");
        EXPECT_EQ(controls.rows, table) << path;
    }
    // Nor is anything but a file replaced by a save.
    dialog.OnClearScreen();
    Save(pipe);
    EXPECT_EQ(dialog.LogContents(), pipe.string() + "\r\nSave failed: not a regular file\r\n");
    EXPECT_TRUE(fs::is_fifo(pipe));
}
#endif

#ifndef _WIN32
TEST_F(TableFileTest, FailuresAreReportedAndNeverCostTheOldFile) {
    const fs::path file = folder / "table.txt";
    std::ofstream(file) << "old table\r\n";
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const fs::path link = folder / "link.txt";
    fs::create_symlink(file, link);
    fs::create_directory(folder / "a folder");

    Save(folder / "missing" / "t.txt");
    Save(folder / "a folder");
    // The program stops between writing the new file and putting it in place.
    if (const pid_t child = fork(); child == 0) {
        (void)ReplaceFile(file.string(), "new", [] { _exit(0); });
        _exit(1);
    } else {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    EXPECT_EQ(Contents(file), "old table\r\n");
    Open(folder / "nothing here.txt");
    EXPECT_EQ(dialog.LogContents(),
              (folder / "missing" / "t.txt").string() + "\r\nSave failed: No such file or directory\r\n" +
                  (folder / "a folder").string() + "\r\nSave failed: Is a directory\r\n" +
                  (folder / "nothing here.txt").string() +
                  "\r\nCannot open file: No such file or directory\r\n");

    Save(link);  // through the link: the file it names is replaced, the link and the permissions stay
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Contents(file).substr(0, 12), "MINvolume: 0");
    EXPECT_EQ(fs::status(file).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    std::size_t left = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        left += entry.path().filename().string().starts_with(".");
    EXPECT_EQ(left, 1U) << "only the killed save may leave its temporary file";
}

#else
// Windows says why in its own words; what matters is that each failure is reported and costs nothing.
TEST_F(TableFileTest, FailuresAreReportedAndNeverCostTheOldFile) {
    const fs::path file = folder / "table.txt";
    std::ofstream(file, std::ios::binary) << "old table\r\n";
    fs::create_directory(folder / "a folder");

    Save(folder / "missing" / "t.txt");
    Save(folder / "a folder");
    fs::permissions(file, fs::perms::owner_read);  // read-only: the save is refused, not forced
    Save(file);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    Open(folder / "a folder");
    Open(folder / "nothing here.txt");
    EXPECT_EQ(Contents(file), "old table\r\n");
    const std::string log = dialog.LogContents();
    for (const fs::path& path : {folder / "missing" / "t.txt", folder / "a folder", file}) {
        EXPECT_NE(log.find(path.string() + "\r\nSave failed: "), std::string::npos) << log;
    }
    EXPECT_NE(log.find((folder / "a folder").string() + "\r\nCannot open file: Is a directory\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find((folder / "nothing here.txt").string() + "\r\nCannot open file: "), std::string::npos)
        << log;

    // The bytes reach the file unchanged (no CR added) and replace it whole; no temporary file is left.
    fs::remove(folder / "a folder");
    Save(file);
    EXPECT_EQ(Contents(file).substr(0, 14), "MINvolume: 0\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}
#endif

// Closing asks only when rows were stored since the start, the last save or the last load; a stop signal
// never asks.
TEST_F(TableFileTest, ClosingWithUnsavedRowsAsksFirst) {
    dialog.OnCancel();
    EXPECT_EQ(controls.endResult, ctl::kIdCancel);
    EXPECT_TRUE(controls.messages.empty());

    controls.endResult.reset();
    controls.SetDlgItemText(ctl::kNumberEdit, "9");
    controls.SetDlgItemText(ctl::kTxEdit, "12");
    controls.SetDlgItemText(ctl::kRxEdit, "34");
    dialog.OnAdd();
    EXPECT_TRUE(dialog.TableChanged());
    controls.yesNoAnswers = {false};
    dialog.OnCancel();
    EXPECT_FALSE(controls.endResult);
    EXPECT_EQ(controls.messages.back().text, "The table has changes that are not saved. Close anyway?");
    EXPECT_TRUE(dialog.CloseWithoutAsking());
    EXPECT_EQ(controls.endResult, ctl::kIdCancel);
    EXPECT_EQ(controls.messages.size(), 1U);

    controls.endResult.reset();
    Save(folder / "saved.txt");
    EXPECT_FALSE(dialog.TableChanged());
    dialog.OnOK();
    EXPECT_EQ(controls.endResult, ctl::kIdOk);
    EXPECT_EQ(controls.messages.size(), 1U);
}

}  // namespace
