// Qt's own command-line options beside ours: taken out before our parser sees them, given to
// Qt by the program, and the program runs with them.
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "app/options.h"
#include "support/child_process.h"

namespace {

using Args = std::vector<std::string>;

TEST(QtOptions, AreLeftOutWithTheirValuesAndOursAreKept)
{
    EXPECT_EQ(WithoutQtOptions({"vantrel", "-style", "fusion", "--simulate", "--scan"}),
              (Args{"vantrel", "--simulate", "--scan"}));
    EXPECT_EQ(WithoutQtOptions({"vantrel",
                                "-style=fusion",
                                "--style",
                                "windows",
                                "-stylesheet",
                                "dark.qss",
                                "-stylesheet=x.qss",
                                "-platform",
                                "offscreen",
                                "--audio-device=null",
                                "-reverse",
                                "-widgetcount",
                                "-qmljsdebugger=port:1234",
                                "-platformtheme",
                                "gtk3",
                                "-geometry",
                                "400x300",
                                "-display",
                                ":1",
                                "--console"}),
              (Args{"vantrel", "--audio-device=null", "--console"}));
    // Unknown ones stay for our parser to refuse, as does a Qt option without its '=' value;
    // a Qt name inside a value of ours stays.
    EXPECT_EQ(WithoutQtOptions({"vantrel", "-bogus", "--qmljsdebugger", "x.wav", "-styles"}),
              (Args{"vantrel", "-bogus", "--qmljsdebugger", "x.wav", "-styles"}));
    EXPECT_EQ(WithoutQtOptions({"vantrel", "--capture=-style"}), (Args{"vantrel", "--capture=-style"}));
}

TEST(QtOptions, OurParserRunsWithQtsOptionsBesideOursAndStillRefusesUnknownOnes)
{
    const ParseOutcome ok = ParseCommandLine(WithoutQtOptions({"vantrel", "-style", "fusion", "--simulate", "--scan"}));
    ASSERT_EQ(ok.kind, ParseOutcome::Run) << ok.text;
    EXPECT_TRUE(ok.options.simulate);
    EXPECT_TRUE(ok.options.scan);
    const ParseOutcome bad = ParseCommandLine(WithoutQtOptions({"vantrel", "-style", "fusion", "--bogus"}));
    EXPECT_EQ(bad.kind, ParseOutcome::Error);
    EXPECT_NE(bad.text.find("bogus"), std::string::npos) << bad.text;
}

TEST(QtOptions, TheProgramTakesThemWithScanAndTellsOfThemInItsHelp)
{
    QTemporaryDir dir;
    for (const QStringList& args : {QStringList{"-style", "fusion", "--simulate", "--scan"},
                                    QStringList{"--simulate", "-stylesheet=none.qss", "-reverse", "--scan"}}) {
        testing_support::ChildProcess child(dir.path());
        EXPECT_EQ(child.run(QStringLiteral(VANTREL_BINARY), args), 0) << args.join(' ').toStdString() << "\n"
                                                                      << child.takeStderr();
    }
    testing_support::ChildProcess child(dir.path());
    EXPECT_EQ(child.run(QStringLiteral(VANTREL_BINARY), {"-style", "fusion", "--no-such-switch"}), 2);
    EXPECT_NE(child.takeStderr().find("no-such-switch"), std::string::npos);
    EXPECT_EQ(child.run(QStringLiteral(VANTREL_BINARY), {"--help"}), 0);
    EXPECT_NE(child.takeStdout().find("Qt's standard options (-style"), std::string::npos);
}

}  // namespace
