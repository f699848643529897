#include "platform/DisplayAdapters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct FakeDevice {
    const char* slot;
    const char* vendor;
    const char* device;
    const char* cls;
    const char* driver;  // nullptr: none bound
    const char* bootVga; // nullptr: no boot_vga attribute
};

void Write(const QString& path, const QByteArray& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

// A sysfs tree as the kernel lays it out: bus/pci/devices/<slot>/ with its attributes, the
// driver a link into bus/pci/drivers/.
void MakeTree(const QString& root, std::initializer_list<FakeDevice> devices) {
    QDir(root).mkpath("bus/pci/drivers");
    for (const FakeDevice& d : devices) {
        const QString dir = root + "/bus/pci/devices/" + d.slot;
        QDir().mkpath(dir);
        Write(dir + "/vendor", QByteArray(d.vendor) + "\n");
        Write(dir + "/device", QByteArray(d.device) + "\n");
        Write(dir + "/class", QByteArray(d.cls) + "\n");
        if (d.bootVga)
            Write(dir + "/boot_vga", QByteArray(d.bootVga) + "\n");
        if (d.driver) {
            QDir(root).mkpath(QString("bus/pci/drivers/") + d.driver);
            QFile::link(QString("../../../../bus/pci/drivers/") + d.driver, dir + "/driver");
        }
    }
}

const char* const kIds = "# a few names of the PCI ID database\n"
                         "10de  NVIDIA Corporation\n"
                         "\t2484  GA104 [GeForce RTX 3070]\n"
                         "8086  Intel Corporation\n"
                         "\t4680  AlderLake-S GT1\n"
                         "\ta0c8  Tiger Lake-LP Smart Sound Technology Audio Controller\n";

} // namespace

// The display-class devices of a fake tree, named from a fake ID database: the boot VGA one
// first, then by slot; other classes left out; unknown IDs in hex; the bound driver's name.
TEST(DisplayAdapters, DisplayClassDevicesBootVgaFirstWithNamesAndDrivers) {
    struct Case {
        const char* what;
        std::initializer_list<FakeDevice> devices;
        std::vector<std::string> names;
        std::vector<std::string> order;
    } cases[] = {
        {"two cards and a sound device",
         {{"0000:00:02.0", "0x8086", "0x4680", "0x030000", "i915", "0"},
          {"0000:00:1f.3", "0x8086", "0xa0c8", "0x040380", "snd_hda_intel", nullptr},
          {"0000:01:00.0", "0x10de", "0x2484", "0x030000", "nvidia", "1"}},
         {"NVIDIA Corporation GA104 [GeForce RTX 3070] (nvidia)",
          "Intel Corporation AlderLake-S GT1 (i915)"},
         {"0000:01:00.0", "0000:00:02.0"}},
        {"no boot VGA: bus order; a 3-D controller; unknown IDs; no driver",
         {{"0000:03:00.0", "0x1234", "0x5678", "0x030200", nullptr, nullptr},
          {"0000:00:02.0", "0x8086", "0x9999", "0x038000", "i915", nullptr}},
         {"Intel Corporation device 9999 (i915)", "PCI vendor 1234 device 5678"},
         {"0000:00:02.0", "0000:03:00.0"}},
        {"no display device",
         {{"0000:00:1f.3", "0x8086", "0xa0c8", "0x040380", nullptr, nullptr}},
         {},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir root;
        MakeTree(root.path(), c.devices);
        Write(root.filePath("pci.ids"), kIds);
        const std::vector<DisplayAdapter> adapters = DisplayAdapters(
            {root.path().toStdString(), root.filePath("pci.ids").toStdString(), false});
        std::vector<std::string> names, order;
        for (const DisplayAdapter& a : adapters) {
            names.push_back(DisplayAdapterName(a));
            order.push_back(a.slot);
        }
        EXPECT_EQ(names, c.names);
        EXPECT_EQ(order, c.order);
    }
}

// Where there is no PCI bus there are no cards; a device whose attributes are missing or are
// no numbers is passed over, and the others still show.
TEST(DisplayAdapters, NoBusGivesNoCardsAndABrokenDeviceIsPassedOver) {
    QTemporaryDir empty;
    EXPECT_TRUE(DisplayAdapters({empty.path().toStdString(), "", false}).empty());
    QTemporaryDir broken;
    MakeTree(broken.path(), {{"0000:01:00.0", "0x10de", "0x2484", "0x030000", "nvidia", "1"},
                             {"0000:02:00.0", "0x10de", "0x2484", "display", nullptr, nullptr},
                             {"0000:03:00.0", "", "0x2484", "0x030000", nullptr, nullptr}});
    QDir(broken.path()).mkpath("bus/pci/devices/0000:04:00.0"); // no attributes at all
    QDir(broken.path()).mkpath("bus/pci/devices/not-a-slot");
    Write(broken.filePath("pci.ids"), kIds);
    const std::vector<DisplayAdapter> adapters = DisplayAdapters(
        {broken.path().toStdString(), broken.filePath("pci.ids").toStdString(), false});
    ASSERT_EQ(adapters.size(), 1u);
    EXPECT_EQ(DisplayAdapterName(adapters[0]),
              "NVIDIA Corporation GA104 [GeForce RTX 3070] (nvidia)");
    EXPECT_TRUE(adapters[0].bootVga);
}
