// Draws the console after a Read Position on the virtual drive into a PNG file, for the
// documentation (scripts/console-screenshot.sh). Usage: console_screenshot OUTPUT.png
#include <QApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <cstdio>
#include <memory>
#include <string>

#include "console/frm_main.h"
#include "platform/aspi/backend.h"
#include "platform/ui/message_box.h"
#include "sim/virtual_bus.h"
#include "transport/drive_state.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: console_screenshot OUTPUT.png\n");
        return 2;
    }
    ui::SetMessageSink(ui::StderrSink());

    // The demo tape in the drive at 0:4, with no waiting.
    sim::BusConfig config = sim::DefaultBusConfig();
    config.readSpeed = 0;
    config.clock = std::make_shared<sim::VirtualClock>();
    std::string error;
    auto bus = sim::CreateBus(config, error);
    if (!bus) {
        std::fprintf(stderr, "console_screenshot: %s\n", error.c_str());
        return 1;
    }
    aspi::InstallBackend(std::move(bus));
    AspiAdapter = 0;
    AspiTarget = 4;

    frmMain window;
    const auto press = [&](const char* name) { window.findChild<QPushButton*>(QString::fromLatin1(name))->click(); };
    press("cmdTestUnitReady");  // the power-on unit attention
    window.findChild<QLineEdit*>(QStringLiteral("txtAbsTime"))->setText(QStringLiteral("00:01:05"));
    press("cmdLocateAbsTime");
    press("cmdReadPosition");

    const bool saved = window.grab().save(QString::fromLocal8Bit(argv[1]), "PNG");
    aspi::InstallBackend(nullptr);
    aspi::ShutdownManager();
    if (!saved) {
        std::fprintf(stderr, "console_screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
