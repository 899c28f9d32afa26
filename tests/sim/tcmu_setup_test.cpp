// The served drive's configfs set-up against a tree in a temporary folder: what it says when
// the kernel's target subsystem is missing or a previous drive was left behind, and that it
// takes down only what it made.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <string>

#include "sim/tcmu/target_setup.h"

namespace {

namespace fs = std::filesystem;
using sim::tcmu::TargetNames;
using sim::tcmu::TargetSetup;

class TargetSetupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        root = dir.path().toStdString();
        names.configfs = root + "/config";
        names.sysfs = root + "/sys";
        names.devices = root + "/dev";
    }

    // configfs with the target subsystem loaded, and the UIO device the kernel makes for the
    // backstore's ring.
    void KernelWithTarget()
    {
        fs::create_directories(names.configfs + "/target/core");
        const std::string uio = names.sysfs + "/class/uio/uio3";
        fs::create_directories(uio + "/maps/map0");
        std::ofstream(uio + "/name") << "tcm-user/0/" << names.backstore << "/" << names.config << "\n";
        std::ofstream(uio + "/maps/map0/size") << "0x10000\n";
    }

    QTemporaryDir dir;
    std::string root;
    TargetNames names;
};

TEST_F(TargetSetupTest, WithoutTheTargetSubsystemItSaysWhichModulesToLoad)
{
    // No configfs folder at all: nothing is mounted, nothing made.
    TargetSetup setup(names);
    const Status created = setup.createBackstore();
    ASSERT_FALSE(created);
    EXPECT_EQ(created.error(), "no SCSI target subsystem under " + names.configfs +
                                   "/target: load the kernel's target modules first (as root: modprobe "
                                   "target_core_user tcm_loop)");
    EXPECT_FALSE(fs::exists(names.configfs));
}

TEST_F(TargetSetupTest, TheBackstoreIsMadeEnabledAndItsRingFound)
{
    KernelWithTarget();
    TargetSetup setup(names);
    const Status created = setup.createBackstore();
    ASSERT_TRUE(created) << created.error();
    EXPECT_EQ(setup.uioPath(), names.devices + "/uio3");
    EXPECT_EQ(setup.mapSize(), 0x10000u);
    const std::string dev = names.configfs + "/target/core/user_0/" + names.backstore;
    std::ifstream enable(dev + "/enable");
    std::string value;
    std::getline(enable, value);
    EXPECT_EQ(value, "1");
    // configfs takes the last value written to control; here the file keeps it.
    std::ifstream control(dev + "/control");
    std::getline(control, value);
    EXPECT_EQ(value, "dev_size=1048576");

    // A second drive meets the first one's backstore and says how to clear a leftover.
    TargetSetup second(names);
    const Status again = second.createBackstore();
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error(), dev + " already exists: another virtual drive is being served, or a previous one was "
                                   "not taken down (remove it with rmdir, newest first)");
    EXPECT_TRUE(second.remove()) << "the second set-up made nothing and must remove nothing";
    EXPECT_TRUE(fs::is_directory(dev));

    // Removal goes newest first and tells the first failure: a plain folder with files in it
    // cannot be removed as configfs removes its own.
    const Status removed = setup.remove();
    ASSERT_FALSE(removed);
    EXPECT_EQ(removed.error(), "cannot remove " + dev + ": Directory not empty");
}

TEST_F(TargetSetupTest, ABackstoreWithoutAUioDeviceIsReported)
{
    fs::create_directories(names.configfs + "/target/core");
    TargetSetup setup(names);
    const Status created = setup.createBackstore();
    ASSERT_FALSE(created);
    EXPECT_EQ(created.error(), "the kernel made the backstore but no UIO device for it under " + names.sysfs +
                                   "/class/uio (is the uio module loaded?)");
}

}  // namespace
