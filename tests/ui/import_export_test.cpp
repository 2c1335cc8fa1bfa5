// clang-format off
#include "tool_window_support.h"
// The file dialogs' control ids; needs the Windows headers first.
#include <commctrl.h>
#include <dlgs.h>
// clang-format on

#include <algorithm>
#include <functional>

namespace {

using namespace tool_test;

class ImportExport : public ToolWindowTest {
  protected:
    // The editor open with an unsaved edit in row 2, to see whether the rows
    // were refreshed.
    HWND OpenEditorWithUnsavedEdit() {
        HWND editor = OpenRecordsEditor(Owner());
        SetWindowTextW(RecordRows()[2].name, L"unsaved.edit");
        return editor;
    }
    bool UnsavedEditStillShown() const { return WindowText(RecordRows()[2].name) == L"unsaved.edit"; }
};

const wchar_t kNotWritten[] = L"Could not write the configuration file. The change applies until Tarnwick is closed.";

void ExpectOneMessage(HWND owner, const std::wstring& text, const std::wstring& caption) {
    ASSERT_EQ(Recorded().messages.size(), 1u);
    EXPECT_EQ(Recorded().messages[0].owner, owner);
    EXPECT_EQ(Recorded().messages[0].text, text);
    EXPECT_EQ(Recorded().messages[0].caption, caption);
    EXPECT_EQ(Recorded().messages[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
}

TEST_F(ImportExport, ExportThenImportChangesNothingAndLogsEachStep) {
    SetLiveConfig(SampleConfig());
    ASSERT_TRUE(SaveConfig());
    const std::string saved = ReadBytes(ConfigFile());
    HWND editor = OpenEditorWithUnsavedEdit();
    const std::filesystem::path file = data_.base() / "backup.xml";
    const std::string path = Utf16ToUtf8(test_support::WidePath(file));

    Recorded().exportPath = test_support::WidePath(file);
    Command(editor, kRecordsExportId);
    EXPECT_EQ(Recorded().exportChoices, 1);
    EXPECT_EQ(ReadBytes(file), saved) << "the export must be the bytes of config.xml";
    EXPECT_TRUE(UnsavedEditStillShown()) << "export must not touch the rows";
    EXPECT_EQ(Log(), std::vector<std::string>{"Settings exported to: " + path});

    Recorded().importPath = test_support::WidePath(file);
    Command(editor, kRecordsImportId);
    EXPECT_EQ(Recorded().importChoices, 1);
    EXPECT_TRUE(SameConfig(LiveConfig(), SampleConfig()));
    EXPECT_EQ(ReadBytes(ConfigFile()), saved);
    EXPECT_FALSE(UnsavedEditStillShown()) << "import must refill the rows";
    EXPECT_EQ(WindowText(RecordRows()[0].name), L"nas.home.test");
    EXPECT_EQ(Log(), (std::vector<std::string>{"Settings exported to: " + path, "Settings imported from: " + path}));
    EXPECT_TRUE(Recorded().messages.empty());
    EXPECT_TRUE(IsWindow(editor)) << "the editor stays open";
}

TEST_F(ImportExport, ExportWritesTheLiveConfigurationNotTheRows) {
    SetLiveConfig(SampleConfig());
    HWND editor = OpenEditorWithUnsavedEdit();
    const std::filesystem::path file = data_.base() / "live.xml";
    WriteBytes(file, std::string(10000, 'x'));  // an existing, longer file is replaced whole
    Recorded().exportPath = test_support::WidePath(file);
    Command(editor, kRecordsExportId);
    EXPECT_EQ(ReadBytes(file), BuildConfigXml(SampleConfig()));
    EXPECT_FALSE(std::filesystem::exists(ConfigFile())) << "export must not save config.xml";
}

TEST_F(ImportExport, NonAsciiPathsAreKeptInFilesAndLog) {
    SetLiveConfig(SampleConfig());
    const std::filesystem::path folder = data_.base() / test_support::FromWide(L"d\u00e9j\u00e0 \u65e5\u672c");
    std::filesystem::create_directories(folder);
    const std::wstring wide = test_support::WidePath(folder / test_support::FromWide(L"r\u00e9glages \u2713.xml"));
    HWND editor = OpenRecordsEditor(Owner());
    Recorded().exportPath = wide;
    Command(editor, kRecordsExportId);
    ASSERT_EQ(ReadFileText(wide), BuildConfigXml(SampleConfig()));

    SetLiveConfig(ServerConfig{});
    Recorded().importPath = wide;
    Command(editor, kRecordsImportId);
    EXPECT_TRUE(SameConfig(LiveConfig(), SampleConfig()));
    const std::string utf8 = Utf16ToUtf8(wide);
    EXPECT_NE(utf8.find("d\xC3\xA9j\xC3\xA0 \xE6\x97\xA5\xE6\x9C\xAC"), std::string::npos);
    EXPECT_EQ(Log(), (std::vector<std::string>{"Settings exported to: " + utf8, "Settings imported from: " + utf8}));
}

TEST_F(ImportExport, ImportAppliesSavesInWriterLayoutAndRefreshesRows) {
    SetLiveConfig(SampleConfig());
    HWND editor = OpenEditorWithUnsavedEdit();
    const std::filesystem::path file = data_.base() / "partial.xml";
    // CR LF lines, a record out of range, one without index, one in slot 5.
    WriteBytes(file,
               "<dns2>192.0.2.1</dns2>\r\n"
               "<record index=\"20\"><name>far</name></record>\r\n"
               "<record><name>none</name></record>\r\n"
               "<record index=\"5\"><enabled>1</enabled><type>MX</type><name>mx.test.</name>"
               "<value>mail.test</value><ttl>0</ttl></record>\r\n");
    Recorded().importPath = test_support::WidePath(file);
    Command(editor, kRecordsImportId);

    ServerConfig expected;
    expected.forwarding.dns2 = "192.0.2.1";
    expected.records[5] = {15, "mx.test", "mail.test", 60, true};
    EXPECT_TRUE(SameConfig(LiveConfig(), expected)) << BuildConfigXml(LiveConfig());
    EXPECT_EQ(ReadBytes(ConfigFile()), BuildConfigXml(expected));
    EXPECT_EQ(WindowText(RecordRows()[0].name), L"");
    EXPECT_EQ(WindowText(RecordRows()[5].name), L"mx.test");
    EXPECT_EQ(SendMessageW(RecordRows()[5].type, CB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(WindowText(RecordRows()[5].ttl), L"60");
    EXPECT_FALSE(UnsavedEditStillShown());
    EXPECT_EQ(Log().size(), 1u);
}

TEST_F(ImportExport, CancelledDialogsChangeNothing) {
    SetLiveConfig(SampleConfig());
    HWND editor = OpenEditorWithUnsavedEdit();
    Command(editor, kRecordsImportId);
    Command(editor, kRecordsExportId);
    EXPECT_EQ(Recorded().importChoices, 1);
    EXPECT_EQ(Recorded().exportChoices, 1);
    EXPECT_TRUE(Recorded().messages.empty());
    EXPECT_TRUE(UnsavedEditStillShown());
    EXPECT_TRUE(SameConfig(LiveConfig(), SampleConfig()));
    EXPECT_FALSE(std::filesystem::exists(ConfigFile()));
    EXPECT_FALSE(std::filesystem::exists(LogFile()));
}

TEST_F(ImportExport, UnreadableFileIsReportedAndChangesNothing) {
    SetLiveConfig(SampleConfig());
    HWND editor = OpenEditorWithUnsavedEdit();
    const std::filesystem::path locked = data_.base() / "locked.xml";
    WriteBytes(locked, BuildConfigXml(ServerConfig{}));
    const std::wstring lockedPath = test_support::WidePath(locked);
    HANDLE holder = CreateFileW(lockedPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);

    for (const std::wstring& path : {test_support::WidePath(data_.base() / "gone.xml"), lockedPath}) {
        SCOPED_TRACE(Utf16ToUtf8(path));
        Recorded().messages.clear();
        Recorded().importPath = path;
        Command(editor, kRecordsImportId);
        ExpectOneMessage(editor, L"Could not read the selected XML file.", L"Import");
    }
    CloseHandle(holder);
    EXPECT_TRUE(UnsavedEditStillShown());
    EXPECT_TRUE(SameConfig(LiveConfig(), SampleConfig()));
    EXPECT_FALSE(std::filesystem::exists(ConfigFile()));
    EXPECT_FALSE(std::filesystem::exists(LogFile()));
}

TEST_F(ImportExport, ImportWithUnwritableConfigIsReportedAndStaysLive) {
    ASSERT_TRUE(SaveConfig());
    const std::string before = ReadBytes(ConfigFile());
    BlockConfigWrites();
    HWND editor = OpenEditorWithUnsavedEdit();
    const std::filesystem::path file = data_.base() / "in.xml";
    WriteBytes(file, BuildConfigXml(SampleConfig()));
    Recorded().importPath = test_support::WidePath(file);
    Command(editor, kRecordsImportId);

    ExpectOneMessage(editor, kNotWritten, L"Import");
    EXPECT_TRUE(SameConfig(LiveConfig(), SampleConfig()));
    EXPECT_EQ(WindowText(RecordRows()[0].name), L"nas.home.test");
    EXPECT_EQ(Log(), std::vector<std::string>{"Settings imported but not saved from: " +
                                              Utf16ToUtf8(test_support::WidePath(file))});
    UnblockConfigWrites();
    EXPECT_EQ(ReadBytes(ConfigFile()), before);
}

TEST_F(ImportExport, FailedExportLeavesTheTargetAsItWasAndLogsNothing) {
    SetLiveConfig(SampleConfig());
    HWND editor = OpenRecordsEditor(Owner());
    const std::filesystem::path folder = data_.base() / "targets";
    std::filesystem::create_directories(folder / "a folder.xml");
    const std::string old = "<dns1>203.0.113.7</dns1>\n";
    WriteBytes(folder / "read-only.xml", old);
    WriteBytes(folder / "held.xml", old);
    HANDLE readOnlyHolder = BlockWrites(test_support::WidePath(folder / "read-only.xml"));
    CloseHandle(readOnlyHolder);  // read-only attribute alone
    const std::wstring heldPath = test_support::WidePath(folder / "held.xml");
    HANDLE heldHolder =
        CreateFileW(heldPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(heldHolder, INVALID_HANDLE_VALUE);

    const std::filesystem::path targets[] = {folder / "read-only.xml", folder / "held.xml", folder / "a folder.xml",
                                             folder / "missing" / "x.xml"};
    for (const auto& target : targets) {
        SCOPED_TRACE(target.string());
        Recorded().messages.clear();
        Recorded().exportPath = test_support::WidePath(target);
        Command(editor, kRecordsExportId);
        ExpectOneMessage(editor, L"Could not write the XML file.", L"Export");
    }
    CloseHandle(heldHolder);
    HANDLE ignored = INVALID_HANDLE_VALUE;
    Unblock(test_support::WidePath(folder / "read-only.xml"), ignored);

    EXPECT_EQ(ReadBytes(folder / "read-only.xml"), old);
    EXPECT_EQ(ReadBytes(folder / "held.xml"), old);
    EXPECT_TRUE(std::filesystem::is_directory(folder / "a folder.xml"));
    EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
    // No half-written temporary file is left beside the targets.
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"a folder.xml", "held.xml", "read-only.xml"}));
    EXPECT_FALSE(std::filesystem::exists(LogFile()));
}

// Targets that another program holds open with read and write sharing only,
// or that the user has hidden, are written like any other and keep their mark.
TEST_F(ImportExport, ExportWritesATargetHeldOpenOrHidden) {
    SetLiveConfig(SampleConfig());
    HWND editor = OpenRecordsEditor(Owner());
    const std::filesystem::path held = data_.base() / "held.xml";
    const std::filesystem::path hidden = data_.base() / "hidden.xml";
    WriteBytes(held, std::string(5000, 'x'));
    WriteBytes(hidden, "old");
    ASSERT_TRUE(SetFileAttributesW(test_support::WidePath(hidden).c_str(), FILE_ATTRIBUTE_HIDDEN));
    HANDLE holder = CreateFileW(test_support::WidePath(held).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    for (const auto& target : {held, hidden}) {
        Recorded().exportPath = test_support::WidePath(target);
        Command(editor, kRecordsExportId);
    }
    CloseHandle(holder);
    EXPECT_TRUE(Recorded().messages.empty());
    EXPECT_EQ(ReadBytes(held), BuildConfigXml(SampleConfig()));
    EXPECT_EQ(ReadBytes(hidden), BuildConfigXml(SampleConfig()));
    EXPECT_NE(GetFileAttributesW(test_support::WidePath(hidden).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_EQ(Log(),
              (std::vector<std::string>{"Settings exported to: " + Utf16ToUtf8(test_support::WidePath(held)),
                                        "Settings exported to: " + Utf16ToUtf8(test_support::WidePath(hidden))}));
}

TEST_F(ImportExport, DocumentWithoutAnyConfigurationElementIsRefused) {
    SetLiveConfig(SampleConfig());
    ASSERT_TRUE(SaveConfig());
    const std::string saved = ReadBytes(ConfigFile());
    HWND editor = OpenEditorWithUnsavedEdit();
    const std::string refused[] = {
        "",
        "not xml at all",
        "<?xml version=\"1.0\"?><config><forwarding></forwarding><records></records></config>",
        "<record><name>no index</name></record>",
        "<record index=\"20\"><name>too far</name></record>",
        "<record index=\"-1\"><name>negative</name></record>",
        "<record index='3'><name>single quotes</name></record>",
        "<dns1 >192.0.2.1</dns1><DNS2>192.0.2.2</DNS2><dns3>unclosed",
        "<html><body>a web page</body></html>",
    };
    const std::filesystem::path file = data_.base() / "other.xml";
    for (const std::string& text : refused) {
        SCOPED_TRACE(text);
        Recorded().messages.clear();
        WriteBytes(file, text);
        Recorded().importPath = test_support::WidePath(file);
        Command(editor, kRecordsImportId);
        ExpectOneMessage(editor, L"Could not parse/apply the selected XML file.", L"Import");
    }
    EXPECT_TRUE(SameConfig(LiveConfig(), SampleConfig()));
    EXPECT_EQ(ReadBytes(ConfigFile()), saved);
    EXPECT_TRUE(UnsavedEditStillShown());
    EXPECT_FALSE(std::filesystem::exists(LogFile()));
}

TEST_F(ImportExport, DocumentWithOneUsableElementImportsAsRead) {
    const struct {
        std::string text;
        ServerConfig expected;
    } accepted[] = {
        {"<dns3></dns3>", ServerConfig{}},
        {"<dns2>192.0.2.1</dns2>", ServerConfig{{"", "192.0.2.1", ""}, {}}},
        {"<record index=\"abc\"></record>", ServerConfig{}},
        {"<record index=\" 19x\"><enabled>1</enabled><name>n</name></record>",
         [] {
             ServerConfig c;
             c.records[19] = {1, "n", "", 60, true};
             return c;
         }()},
        {"<record index=\"99999999999999999999\"></record><record index=\"+4\"><ttl>-1</ttl></record>",
         [] {
             ServerConfig c;
             c.records[4].ttl = 4294967295u;
             return c;
         }()},
    };
    HWND editor = OpenRecordsEditor(Owner());
    const std::filesystem::path file = data_.base() / "one.xml";
    size_t imports = 0;
    for (const auto& item : accepted) {
        SCOPED_TRACE(item.text);
        SetLiveConfig(SampleConfig());
        WriteBytes(file, item.text);
        Recorded().importPath = test_support::WidePath(file);
        Command(editor, kRecordsImportId);
        ++imports;
        EXPECT_TRUE(Recorded().messages.empty());
        EXPECT_TRUE(SameConfig(LiveConfig(), item.expected)) << BuildConfigXml(LiveConfig());
        EXPECT_EQ(ReadBytes(ConfigFile()), BuildConfigXml(item.expected));
        EXPECT_EQ(Log().size(), imports);
    }
}

TEST(ReadFileText, ReturnsRawBytesOrNothing) {
    test_support::ScratchFolder folder;
    const std::string bytes("\xEF\xBB\xBF<a>\r\n\0\xFF", 9);
    const std::filesystem::path file = folder.path() / "raw.xml";
    WriteBytes(file, bytes);
    EXPECT_EQ(ReadFileText(test_support::WidePath(file)), bytes);
    WriteBytes(file, "");
    EXPECT_EQ(ReadFileText(test_support::WidePath(file)), std::string());
    EXPECT_EQ(ReadFileText(test_support::WidePath(folder.path() / "none.xml")), std::nullopt);
}

}  // namespace

namespace {

// Drives the platform's file dialog from inside its own modal loop: a thread
// timer finds the dialog and any message box that the dialog shows, and runs
// the next step of a script on them. A step returns false to wait for the
// next tick (for a message box that is not up yet, say).
struct DialogView {
    HWND dialog = nullptr;
    HWND messageBox = nullptr;
};
using DialogStep = std::function<bool(const DialogView&)>;

struct DialogRun {
    std::vector<DialogStep> steps;
    size_t next = 0;
    bool seen = false;
    HWND owner = nullptr;                 // the dialog's owner, as the dialog has it
    int boxesAnswered = 0;                // message boxes that the dialog showed
    std::vector<std::wstring> fileTypes;  // the file type list, as first shown
    int selectedFileType = -1;
    bool leftOpen = false;
};
DialogRun run;

BOOL CALLBACK CollectDialogs(HWND window, LPARAM found) {
    if (IsWindowVisible(window) && ClassName(window) == L"#32770") {
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    }
    return TRUE;
}

void CALLBACK RunDialogStep(HWND, UINT, UINT_PTR, DWORD) {
    std::vector<HWND> dialogs;
    EnumThreadWindows(GetCurrentThreadId(), CollectDialogs, reinterpret_cast<LPARAM>(&dialogs));
    DialogView view;
    for (HWND window : dialogs) {
        const HWND owner = GetWindow(window, GW_OWNER);
        if (std::find(dialogs.begin(), dialogs.end(), owner) == dialogs.end()) {
            view.dialog = window;
        }
    }
    for (HWND window : dialogs) {
        if (view.dialog != nullptr && GetWindow(window, GW_OWNER) == view.dialog) {
            view.messageBox = window;
        }
    }
    if (view.dialog == nullptr) {
        return;
    }
    if (run.next >= run.steps.size()) {
        // The script is done and the dialog still up: close it, so that the
        // test can say so instead of waiting for ever.
        run.leftOpen = true;
        PostMessageW(view.messageBox != nullptr ? view.messageBox : view.dialog, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    if (!run.seen) {
        run.seen = true;
        run.owner = GetWindow(view.dialog, GW_OWNER);
        const HWND fileTypes = GetDlgItem(view.dialog, cmb1);
        const LRESULT count = SendMessageW(fileTypes, CB_GETCOUNT, 0, 0);
        for (LRESULT item = 0; item < count; ++item) {
            wchar_t text[64] = {};
            SendMessageW(fileTypes, CB_GETLBTEXT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(text));
            run.fileTypes.push_back(text);
        }
        run.selectedFileType = static_cast<int>(SendMessageW(fileTypes, CB_GETCURSEL, 0, 0));
    }
    if (run.steps[run.next](view)) {
        ++run.next;
    }
}

// Types a name into the dialog's file name box (a combo box in the
// Explorer-style dialog, an edit in the older one) and presses OK.
DialogStep Enter(const std::wstring& name) {
    return [name](const DialogView& view) {
        if (view.messageBox != nullptr) {
            return false;
        }
        HWND nameBox = GetDlgItem(view.dialog, cmb13);
        if (nameBox == nullptr) {
            nameBox = GetDlgItem(view.dialog, edt1);
        }
        SetWindowTextW(nameBox, name.c_str());
        PostMessageW(view.dialog, WM_COMMAND, IDOK, 0);
        return true;
    };
}

DialogStep Cancel() {
    return [](const DialogView& view) {
        if (view.messageBox != nullptr) {
            return false;
        }
        PostMessageW(view.dialog, WM_COMMAND, IDCANCEL, 0);
        return true;
    };
}

// Presses a button of the message box that the dialog shows.
DialogStep Answer(int button) {
    return [button](const DialogView& view) {
        if (view.messageBox == nullptr) {
            return false;
        }
        ++run.boxesAnswered;
        PostMessageW(view.messageBox, WM_COMMAND, button, 0);
        return true;
    };
}

// The number of entries that the dialog's file list shows.
int ListedFiles(HWND dialog) {
    const HWND view = FindWindowExW(dialog, nullptr, L"SHELLDLL_DefView", nullptr);
    const HWND list = view != nullptr ? FindWindowExW(view, nullptr, WC_LISTVIEWW, nullptr) : nullptr;
    return list != nullptr ? static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) : -1;
}

// Notes how many entries the file list shows, then takes the next step.
std::vector<int> listed;
DialogStep CountFilesThen(DialogStep next) {
    return [next](const DialogView& view) {
        if (view.messageBox != nullptr) {
            return false;
        }
        listed.push_back(ListedFiles(view.dialog));
        return next(view);
    };
}

DialogStep PickFileType(int fileType) {
    return [fileType](const DialogView& view) {
        const HWND fileTypes = GetDlgItem(view.dialog, cmb1);
        SendMessageW(fileTypes, CB_SETCURSEL, static_cast<WPARAM>(fileType), 0);
        // What a pick with the mouse sends the dialog.
        for (WORD notification : {CBN_SELCHANGE, CBN_SELENDOK}) {
            SendMessageW(view.dialog, WM_COMMAND, MAKEWPARAM(cmb1, notification), reinterpret_cast<LPARAM>(fileTypes));
        }
        return true;
    };
}

template <typename Choose>
void RunDialog(Choose choose, std::vector<DialogStep> steps) {
    run = DialogRun{};
    run.steps = std::move(steps);
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, RunDialogStep);
    choose();
    KillTimer(nullptr, timer);
    EXPECT_TRUE(run.seen) << "the dialog never showed";
    EXPECT_FALSE(run.leftOpen) << "the dialog was still up after step " << run.steps.size();
}

std::optional<std::wstring> Chosen(std::optional<std::wstring> (*choose)(HWND), std::vector<DialogStep> steps) {
    std::optional<std::wstring> chosen;
    RunDialog([&] { chosen = choose(nullptr); }, std::move(steps));
    return chosen;
}

TEST(FileDialogs, PlatformDialogsReturnTheChosenFullPath) {
    test_support::ScratchFolder folder("-d\xC3\xA9j\xC3\xA0");
    const std::wstring base = folder.wide();

    // A name without extension gets "xml" appended by the Save dialog.
    EXPECT_EQ(Chosen(ChooseExportFile, {Enter(base + L"\\chosen")}), base + L"\\chosen.xml");
    EXPECT_EQ(Chosen(ChooseExportFile, {Enter(base + L"\\keep.xml")}), base + L"\\keep.xml");
    EXPECT_EQ(Chosen(ChooseExportFile, {Cancel()}), std::nullopt);

    WriteBytes(folder.path() / "present.xml", "<dns1>x</dns1>");
    EXPECT_EQ(Chosen(ChooseImportFile, {Enter(base + L"\\present.xml")}), base + L"\\present.xml");
    EXPECT_EQ(Chosen(ChooseImportFile, {Cancel()}), std::nullopt);
}

// What the program asks of the dialogs, seen in the dialogs themselves.
TEST(FileDialogs, OpenWantsAnExistingFileAndSaveAsksBeforeReplacingOne) {
    test_support::ScratchFolder folder;
    const std::wstring base = folder.wide();
    WriteBytes(folder.path() / "present.xml", "<dns1>x</dns1>");

    EXPECT_EQ(Chosen(ChooseImportFile, {Enter(base + L"\\missing.xml"), Answer(IDOK), Cancel()}), std::nullopt);
    EXPECT_EQ(run.boxesAnswered, 1) << "opening a missing file was not refused";

    EXPECT_EQ(Chosen(ChooseExportFile, {Enter(base + L"\\no folder\\x.xml"), Answer(IDOK), Cancel()}), std::nullopt);
    EXPECT_EQ(run.boxesAnswered, 1) << "saving into a missing folder was not refused";

    EXPECT_EQ(Chosen(ChooseExportFile,
                     {Enter(base + L"\\present.xml"), Answer(IDNO), Enter(base + L"\\present.xml"), Answer(IDYES)}),
              base + L"\\present.xml");
    EXPECT_EQ(run.boxesAnswered, 2) << "replacing a file was not asked";
}

TEST_F(ImportExport, FlowsAskForXmlFilesInDialogsOwnedByTheEditor) {
    HWND editor = OpenRecordsEditor(Owner());
    FileDialogs() = FileChoosers{};  // the platform's own dialogs
    const std::filesystem::path folder = data_.base() / "files";
    std::filesystem::create_directories(folder);
    WriteBytes(folder / "a.xml", "");
    WriteBytes(folder / "b.txt", "");
    for (int command : {kRecordsImportId, kRecordsExportId}) {
        SCOPED_TRACE(command);
        listed.clear();
        RunDialog([&] { Command(editor, command); },
                  {Enter(test_support::WidePath(folder)), CountFilesThen(PickFileType(1)),
                   CountFilesThen(PickFileType(0)), CountFilesThen(Cancel())});
        EXPECT_EQ(run.owner, editor);
        EXPECT_EQ(run.fileTypes, (std::vector<std::wstring>{L"XML Files (*.xml)", L"All Files (*.*)"}));
        EXPECT_EQ(run.selectedFileType, 0);
        EXPECT_EQ(listed, (std::vector<int>{1, 2, 1}));
    }
    EXPECT_TRUE(Recorded().messages.empty());
    EXPECT_FALSE(std::filesystem::exists(LogFile()));
}

}  // namespace
