// The encrypt window's decisions: the start sequence with its checks in
// order, the keyboard rules, the target choices and the first run.
#include "ui/encrypt/logic/jiami_logic.h"

#include <gtest/gtest.h>

#include <functional>

#include "app/settings_keys.h"
#include "engine/pass_state.h"
#include "platform/text.h"
#include "store/layout.h"
#include "ui/encrypt/logic/encrypt_texts.h"
#include "ui_logic/ui_logic_fixture.h"

namespace {

using namespace ui::logic;
namespace texts = ui::texts;
using testsupport::WriteFileBytes;
using uilogictest::ScriptedPrompts;

class StartSequenceTest : public uilogictest::UiLogicTest {
  public:
    void SetUp() override {
        UiLogicTest::SetUp();
        Fresh(L"target");
    }
    // A new target folder holding only the program, and default places.
    void Fresh(const std::wstring& name) {
        target_ = dir_ / name;
        ASSERT_TRUE(plat::Fs().CreateDir(target_));
        places_ = SystemPlaces();
        places_.windowsDir = dir_ / L"win";
        places_.systemDir = plat::JoinPath(places_.windowsDir, L"system32");
        places_.modulePath = plat::JoinPath(target_, L"ulxjm.exe");
        ASSERT_TRUE(WriteFileBytes(places_.modulePath, "MZ"));
    }
    void AddContent() { ASSERT_TRUE(WriteFileBytes(plat::JoinPath(target_, L"a.txt"), "a")); }
    bool Hidden() { return plat::Fs().GetAttributes(target_) & plat::kAttrHidden; }

    std::wstring target_;
    SystemPlaces places_;
};

// Each row sets up one situation; the first failing check speaks, the rest
// stay silent, and nothing but an agreed unhide changes on disk.
TEST_F(StartSequenceTest, ChecksRunInOrderAndTheFirstFailureSpeaks) {
    struct Case {
        const char* name;
        std::function<void(StartSequenceTest&)> setup;
        std::wstring password, confirm;
        std::vector<bool> answers;
        std::vector<std::wstring> expected;
        bool go;
    };
    const std::wstring pw = L"密码1";
    auto content = [](StartSequenceTest& t) { t.AddContent(); };
    const Case cases[] = {
        {"only the program: empty, even with no password",
         nullptr,
         L"",
         L"",
         {},
         {texts::kEmptyFolder},
         false},
        {"already encrypted",
         [](StartSequenceTest& t) {
             t.AddContent();
             ASSERT_TRUE(plat::Fs().CreateDir(plat::JoinPath(t.target_, L"ulxjm")));
             ASSERT_TRUE(plat::Fs().CreateDir(store::DataDir(t.target_)));
         },
         pw,
         pw,
         {},
         {texts::kAlreadyEncrypted},
         false},
        {"mapped image drive before system folder",
         [](StartSequenceTest& t) {
             t.AddContent();
             t.places_.mapDriver = L"Q:" + t.target_.substr(0, 2);
             t.places_.windowsDir = t.target_;
         },
         pw,
         pw,
         {},
         {texts::kMappedDrive},
         false},
        {"the Windows folder",
         [](StartSequenceTest& t) {
             t.AddContent();
             t.places_.windowsDir = t.target_;
         },
         pw,
         pw,
         {},
         {texts::kSystemFolder},
         false},
        {"the system folder",
         [](StartSequenceTest& t) {
             t.AddContent();
             t.places_.systemDir = plat::WithSep(t.target_);
         },
         pw,
         pw,
         {},
         {texts::kSystemFolder},
         false},
        {"inside the Windows folder, declined",
         [](StartSequenceTest& t) {
             t.AddContent();
             t.places_.windowsDir = t.dir_.path().substr(0, t.dir_.path().size() - 1);
         },
         L"",
         L"",
         {false},
         {texts::kMayHoldSystemFiles},
         false},
        {"inside the Windows folder, accepted",
         [](StartSequenceTest& t) {
             t.AddContent();
             t.places_.windowsDir = t.dir_.path();
         },
         pw,
         pw,
         {true},
         {texts::kMayHoldSystemFiles},
         true},
        {"the sibling product's folder",
         [](StartSequenceTest& t) {
             t.AddContent();
             t.places_.siblingExePath = plat::JoinPath(t.target_, L"other.exe");
         },
         pw,
         pw,
         {},
         {texts::kSiblingFolder},
         false},
        {"empty password", content, L"", L"", {}, {L"<focus 1003>", texts::kEmptyPassword}, false},
        {"empty password, filled confirmation",
         content,
         L"",
         pw,
         {},
         {L"<focus 1003>", texts::kEmptyPassword},
         false},
        {"passwords differ", content, pw, L"密码2", {}, {texts::kPasswordsDiffer}, false},
        {"passwords differ in case only",
         content,
         L"abc",
         L"ABC",
         {},
         {texts::kPasswordsDiffer},
         false},
        {"a password the code page cannot hold",
         content,
         L"pw\U0001F600",
         L"pw\U0001F600",
         {},
         {L"<focus 1003>", texts::kPasswordNotAnsi},
         false},
        {"only names an encryption never moves: empty",
         [](StartSequenceTest& t) {
             for (const wchar_t* d : {L"System Volume Information", L"$RECYCLE.BIN", L"RECYCLER"})
                 ASSERT_TRUE(plat::Fs().CreateDir(plat::JoinPath(t.target_, d)));
             ASSERT_TRUE(WriteFileBytes(plat::JoinPath(t.target_, L"mima.dat"), "guard"));
         },
         pw,
         pw,
         {},
         {texts::kEmptyFolder},
         false},
        {"a desktop.ini of the user's is content",
         [](StartSequenceTest& t) {
             ASSERT_TRUE(WriteFileBytes(plat::JoinPath(t.target_, L"desktop.ini"), "[x]"));
         },
         pw,
         pw,
         {},
         {},
         true},
        {"an empty sub-folder is content",
         [](StartSequenceTest& t) {
             ASSERT_TRUE(plat::Fs().CreateDir(plat::JoinPath(t.target_, L"empty")));
         },
         pw,
         pw,
         {},
         {},
         true},
        {"the system folder inside the Windows folder is refused, not asked about",
         [](StartSequenceTest& t) {
             t.AddContent();
             t.places_.windowsDir = plat::WithoutSep(plat::ParentWithSep(t.target_));
             t.places_.systemDir = t.target_;
         },
         pw,
         pw,
         {},
         {texts::kSystemFolder},
         false},
        {"everything fine", content, pw, pw, {}, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fresh(L"row" + std::to_wstring(&c - cases));
        if (c.setup) c.setup(*this);
        ScriptedPrompts prompts(c.answers);
        EXPECT_EQ(RunStartChecks(target_, c.password, c.confirm, places_, prompts), c.go);
        EXPECT_EQ(prompts.shown, c.expected);
    }
}

TEST_F(StartSequenceTest, HiddenFolderIsUnhiddenOnlyWhenTheStartGoesAhead) {
    AddContent();
    ASSERT_TRUE(plat::Fs().SetAttributes(target_, plat::kAttrHidden));
    ASSERT_TRUE(Hidden());
    {
        ScriptedPrompts declined({false});
        EXPECT_FALSE(RunStartChecks(target_, L"p", L"p", places_, declined));
        EXPECT_EQ(declined.shown, std::vector<std::wstring>{texts::kHiddenFolder});
        EXPECT_TRUE(Hidden());
    }
    {
        ScriptedPrompts agreedButMismatch({true});
        EXPECT_FALSE(RunStartChecks(target_, L"p", L"q", places_, agreedButMismatch));
        EXPECT_EQ(agreedButMismatch.shown,
                  (std::vector<std::wstring>{texts::kHiddenFolder, texts::kPasswordsDiffer}));
        EXPECT_TRUE(Hidden());
    }
    ScriptedPrompts agreed({true});
    EXPECT_TRUE(RunStartChecks(target_, L"p", L"p", places_, agreed));
    EXPECT_FALSE(Hidden());
}

// Each content-encrypted file carries the password, scrambled, in a trailer
// whose length field has two digits.
TEST_F(StartSequenceTest, AStrengthPasswordMustFitTheFileTrailer) {
    AddContent();
    const struct {
        std::wstring password;
        bool contentPass, go;
    } rows[] = {
        {std::wstring(98, L'a'), true, true},
        {std::wstring(99, L'a'), true, false},
        {std::wstring(49, L'密'), true, true},  // two bytes each in code page 936
        {std::wstring(50, L'密'), true, false},
        {std::wstring(300, L'a'), false, true},  // normal strength writes no trailer
    };
    for (const auto& r : rows) {
        ScriptedPrompts prompts;
        EXPECT_EQ(RunStartChecks(target_, r.password, r.password, places_, prompts, r.contentPass),
                  r.go)
            << r.password.size();
        if (!r.go)
            EXPECT_EQ(prompts.shown, (std::vector<std::wstring>{
                                         L"<focus 1003>", texts::kPasswordTooLongForStrength}));
    }
}

TEST_F(StartSequenceTest, UnreadableTargetsReportTheSystemReason) {
    for (const std::wstring& t : {std::wstring(), dir_ / L"missing"}) {
        ScriptedPrompts prompts;
        EXPECT_FALSE(RunStartChecks(t, L"p", L"p", places_, prompts));
        ASSERT_EQ(prompts.shown.size(), 1u);
        // The path, then the code and the system's own text for it.
        const std::wstring& m = prompts.shown[0];
        EXPECT_EQ(m.rfind(t, 0), 0u);
        const size_t code = m.find(L"错误代码为：");
        ASSERT_NE(code, std::wstring::npos) << plat::ToUtf8(m);
        const size_t comma = m.find(L',', code);
        ASSERT_NE(comma, std::wstring::npos);
        EXPECT_GT(m.size(), comma + 1) << "no system text";
    }
    // A dropped file is no folder: refused as empty, as a person expects.
    const std::wstring file = dir_ / L"file.txt";
    ASSERT_TRUE(WriteFileBytes(file, "x"));
    ScriptedPrompts prompts;
    EXPECT_FALSE(RunStartChecks(file, L"p", L"p", places_, prompts));
    EXPECT_EQ(prompts.shown, std::vector<std::wstring>{texts::kEmptyFolder});
}

TEST(ClassifyFolderTest, DriveRootsAndCase) {
    const std::wstring sep(1, plat::kSep);
    SystemPlaces p;
    p.windowsDir = L"C:" + sep + L"Windows";
    p.systemDir = L"C:" + sep + L"Windows" + sep + L"System32";
    struct Row {
        std::wstring target;
        FolderClass expected;
    };
    const Row rows[] = {
        {L"C:" + sep, FolderClass::System},
        {L"c:", FolderClass::System},
        {L"c:" + sep + L"WINDOWS" + sep, FolderClass::System},
        {L"C:" + sep + L"windows" + sep + L"Temp", FolderClass::HoldsSystemFiles},
        // The equality rules come first: the system folder itself is refused.
        {L"C:" + sep + L"Windows" + sep + L"System32", FolderClass::System},
        {L"c:" + sep + L"windows" + sep + L"system32" + sep + L"drivers",
         FolderClass::HoldsSystemFiles},
        {L"C:" + sep + L"Windowsdata", FolderClass::Eligible},
        {L"C:" + sep + L"WindowsApps", FolderClass::Eligible},
        {L"D:" + sep, FolderClass::Eligible},
        {L"C:" + sep + L"data", FolderClass::Eligible},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(ClassifyFolder(r.target, p), r.expected) << plat::ToUtf8(r.target);
    }
    p.siblingExePath = L"D:" + sep + L"Tools" + sep + L"jm.exe";
    EXPECT_EQ(ClassifyFolder(L"d:" + sep + L"tools", p), FolderClass::SiblingProduct);
    EXPECT_EQ(ClassifyFolder(L"D:" + sep + L"Tools" + sep + L"x", p), FolderClass::Eligible);
}

TEST(MappedDriveTest, DriveLettersOfTheProfileText) {
    EXPECT_TRUE(IsMappedImageDrive(L"F:\\x", L"G:F:"));
    EXPECT_TRUE(IsMappedImageDrive(L"f:\\", L"F:"));
    EXPECT_FALSE(IsMappedImageDrive(L"E:\\", L"F:G:"));
    EXPECT_FALSE(IsMappedImageDrive(L"E", L"E"));
    EXPECT_FALSE(IsMappedImageDrive(L"E:\\", L""));
}

TEST(KeyboardTest, EnterAndCtrlRight) {
    struct Row {
        unsigned key;
        bool ctrl;
        int focus;
        KeyAction expected;
    };
    const Row rows[] = {
        {kKeyReturn, false, 1003, KeyAction::FocusConfirm},
        {kKeyReturn, false, 1004, KeyAction::Start},
        {kKeyReturn, false, 1005, KeyAction::Start},
        {kKeyReturn, false, 0, KeyAction::Start},
        {kKeyReturn, true, 1003, KeyAction::FocusConfirm},
        {kKeyRight, true, 1003, KeyAction::NextStrength},
        {kKeyRight, false, 1005, KeyAction::None},
        {'A', true, 1003, KeyAction::None},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(KeyDown(r.key, r.ctrl, r.focus), r.expected) << r.key << " " << r.focus;
    }
    EXPECT_EQ(NextStrengthIndex(0), 1);
    EXPECT_EQ(NextStrengthIndex(1), 0);  // wraps after the last entry
    EXPECT_EQ(NextStrengthIndex(-1), 0);
}

TEST(StrengthTest, HighestRunsTheContentPassWithItsKind) {
    EXPECT_EQ(std::wstring(StrengthAt(0).name), texts::kStrengthNormal);
    EXPECT_EQ(std::wstring(StrengthAt(0).kindText), L"type=0");
    EXPECT_EQ(StrengthAt(0).displayKind, 0);
    EXPECT_FALSE(StrengthAt(0).contentPass);
    EXPECT_EQ(std::wstring(StrengthAt(1).name), texts::kStrengthHighest);
    EXPECT_EQ(std::wstring(StrengthAt(1).kindText), L"type=2");
    EXPECT_EQ(StrengthAt(1).displayKind, 2);
    EXPECT_TRUE(StrengthAt(1).contentPass);
}

TEST(InitialTargetTest, RemovableOrNetworkDriveUnlessLaunchedOnAFolder) {
    using plat::DriveType;
    const std::vector<plat::DriveInfo> fixedOnly = {{L"C:\\", DriveType::Fixed},
                                                    {L"D:\\", DriveType::CdRom}};
    const std::vector<plat::DriveInfo> usb = {
        {L"C:\\", DriveType::Fixed}, {L"F:\\", DriveType::Removable}, {L"G:\\", DriveType::Remote}};
    const std::vector<plat::DriveInfo> net = {{L"C:\\", DriveType::Fixed},
                                              {L"Z:\\", DriveType::Remote}};
    EXPECT_EQ(InitialTarget(fixedOnly, L"C:\\data\\", false), L"C:\\data\\");
    EXPECT_EQ(InitialTarget(usb, L"C:\\data\\", false), L"F:\\");
    EXPECT_EQ(InitialTarget(net, L"C:\\data\\", false), L"Z:\\");
    EXPECT_EQ(InitialTarget(usb, L"C:\\data", true), L"C:\\data");
    // Empty card-reader slots come before the inserted stick.
    const std::vector<plat::DriveInfo> reader = {{L"C:\\", DriveType::Fixed},
                                                 {L"E:\\", DriveType::Removable, false},
                                                 {L"F:\\", DriveType::Removable, false},
                                                 {L"G:\\", DriveType::Removable, true}};
    EXPECT_EQ(InitialTarget(reader, L"C:\\data\\", false), L"G:\\");
    EXPECT_EQ(InitialTarget({reader[0], reader[1]}, L"C:\\data\\", false), L"C:\\data\\");
}

class TargetChoiceTest : public uilogictest::UiLogicTest {};

TEST_F(TargetChoiceTest, DropTakesTheFirstAndRefusesEncryptedFolders) {
    const std::wstring a = dir_ / L"a", b = dir_ / L"b";
    ASSERT_TRUE(plat::Fs().CreateDir(a));
    ASSERT_TRUE(plat::Fs().CreateDir(b));

    TargetChoice one = ChooseDropped({a});
    EXPECT_TRUE(one.accepted);
    EXPECT_EQ(one.target, a);
    EXPECT_TRUE(one.messages.empty());

    TargetChoice two = ChooseDropped({a, b});
    EXPECT_TRUE(two.accepted);
    EXPECT_EQ(two.target, a);
    EXPECT_EQ(two.messages, std::vector<std::wstring>{texts::kDropCount});

    ASSERT_TRUE(plat::Fs().CreateDir(plat::JoinPath(b, L"ulxjm")));
    ASSERT_TRUE(plat::Fs().CreateDir(store::DataDir(b)));
    TargetChoice enc = ChooseDropped({b, a});
    EXPECT_FALSE(enc.accepted);
    EXPECT_EQ(enc.messages,
              (std::vector<std::wstring>{texts::kDropCount, texts::kAlreadyEncrypted}));

    EXPECT_FALSE(ChooseFolder(b).accepted);
    EXPECT_EQ(ChooseFolder(b).messages, std::vector<std::wstring>{texts::kAlreadyEncrypted});
    EXPECT_TRUE(ChooseFolder(a).accepted);
    EXPECT_FALSE(ChooseFolder(L"").accepted);  // browser cancelled
    EXPECT_TRUE(ChooseFolder(L"").messages.empty());

    EXPECT_EQ(ChooseDropped({std::wstring(600, L'x')}).target.size(), 512u);
}

TEST_F(TargetChoiceTest, FirstRunIsTakenOnceAfterACleanPass) {
    bool saved = false;
    EXPECT_FALSE(TakeFirstRun(app::Settings::First(), false, &saved)) << "a pass with failures";
    EXPECT_EQ(app::Settings::First(), 1);
    EXPECT_TRUE(TakeFirstRun(app::Settings::First(), true, &saved));
    EXPECT_TRUE(saved);
    EXPECT_EQ(app::Settings::First(), 0);
    // Kept where a standard user can write it, not in win.ini.
    EXPECT_EQ(Settings().GetProfileInt(L"", L"First", 1), 0);
    EXPECT_EQ(Settings().GetWinIniInt(app::kWinIniSection, L"First", 1), 1);
    EXPECT_FALSE(TakeFirstRun(app::Settings::First(), true, &saved));
    EXPECT_EQ(FirstRunPageUrl(),
              std::wstring(L"http://") + app::kWebHost + L"/rlxjm/first.php?ver=3069");
}

TEST_F(TargetChoiceTest, EarlierVersionsWinIniValuesAreStillRead) {
    ASSERT_TRUE(Settings().WriteWinIniString(app::kWinIniSection, L"First", L"0"));
    ASSERT_TRUE(Settings().WriteWinIniString(app::kWinIniSection, L"mailaddr", L"old@x.cn"));
    EXPECT_EQ(app::Settings::First(), 0);
    EXPECT_EQ(app::Settings::MailAddress(), L"old@x.cn");
    // The profile's value wins once there is one.
    ASSERT_TRUE(app::Settings::SetMailAddress(L"new@x.cn"));
    EXPECT_EQ(app::Settings::MailAddress(), L"new@x.cn");
}

TEST(PassEndTest, OnlyAPassWithoutFailureCountsAsClean) {
    engine::PassState& st = engine::State();
    const struct {
        const char* what;
        int moveFailed, skipped, notOurs;
        bool cancelled, done, clean;
    } rows[] = {
        {"clean", 0, 0, 0, false, true, true},
        {"a move failed", 1, 0, 0, false, true, false},
        {"a file stayed plain", 0, 1, 0, false, true, false},
        {"a file without trailer", 0, 0, 1, false, true, false},
        {"cancelled", 0, 0, 0, true, true, false},
        {"still running", 0, 0, 0, false, false, false},
    };
    for (const auto& r : rows) {
        st.Reset();
        st.moveFailed = r.moveFailed;
        st.strengthSkipped = r.skipped;
        st.notOurFormat = r.notOurs;
        st.cancelRequested = r.cancelled;
        st.done = r.done;
        EXPECT_EQ(PassEndedClean(), r.clean) << r.what;
    }
    st.Reset();
}

TEST(FirstRunNoticeTest, NamesTheProgramPlacedInTheFolder) {
    const std::wstring notice = FirstRunNotice(plat::JoinPath(L"x", L"U盘加密.exe"));
    EXPECT_EQ(notice.find(L"rlxjm"), std::wstring::npos);
    EXPECT_NE(notice.find(L"直接运行加密磁盘下的U盘加密.exe,如果不存在该文件，将U盘加密.exe复制到"),
              std::wstring::npos);
    EXPECT_EQ(notice.rfind(L"加密成功", 0), 0u);
}

TEST(RelaunchTest, OneFieldLaunchForm) {
    EXPECT_EQ(RelaunchArguments(L"E:\\data"), L",E:\\data");
}

}  // namespace
