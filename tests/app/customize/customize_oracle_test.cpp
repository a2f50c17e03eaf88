// The files the customisers write, read by outside tools: icotool lists every
// .ico with its sizes and depths, wrestool takes the seeded shell library's
// icon groups apart for Pillow to compare with what LoadIconFromLocation reads,
// and Python's configparser reads desktop.ini and Autorun.inf.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/customize/file_type_icons.h"
#include "app/customize/folder_icons.h"
#include "app/customize/shell_icon_locations.h"
#include "app/picture_utils.h"
#include "customize_model.h"
#include "platform/rtl/sysutils.h"

using namespace customizetest;

namespace {

class CustomizeOracle : public CustomizeModel {
protected:
  void SetUp() override {
    CustomizeModel::SetUp();
    if (!qvtest::HaveProgram("icotool") || !qvtest::HaveProgram("wrestool") ||
        qvtest::RunCommand("/usr/bin/python3 -c 'import PIL.Image, configparser' 2>/dev/null") != 0)
      GTEST_SKIP() << "icoutils or Pillow missing";
  }
  static std::string Listing(const std::string& windowsFile) {
    std::string out;
    EXPECT_EQ(qvtest::RunCommand("icotool -l '" + NativePath(windowsFile) + "'", &out), 0) << windowsFile;
    // Only the sizes and depths: offsets differ between writers.
    std::string kept;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      for (const char* field : {"--width=", "--height=", "--bit-depth="}) {
        const size_t at = line.find(field);
        if (at != std::string::npos) kept += line.substr(at, line.find(' ', at) - at) + " ";
      }
      kept += "\n";
    }
    return kept;
  }
  std::string Python(const std::string& script, const std::vector<std::string>& args) {
    const std::string file = dir.File("oracle.py");
    std::ofstream(file) << script;
    std::string command = "/usr/bin/python3 '" + file + "'";
    for (const std::string& a : args) command += " '" + a + "'";
    std::string out;
    EXPECT_EQ(qvtest::RunCommand(command + " 2>&1", &out), 0) << out;
    return out;
  }
};

const char* const kThreeSizes =
    "--width=48 --height=48 --bit-depth=32 \n--width=32 --height=32 --bit-depth=32 \n--width=16 --height=16 --bit-depth=32 \n";

TEST_F(CustomizeOracle, IcotoolListsEveryIconTheCustomisersWrite) {
  const std::string shell = System32() + "shell32.dll";
  // Save as and the copies into folders and drive roots.
  ASSERT_TRUE(CopyIconToFile(shell, -137, "C:\\saved.ico"));
  EXPECT_EQ(Listing("C:\\saved.ico"), kThreeSizes);
  ForceDirectories("C:\\Games");
  SetFolderIcon("C:\\Games", shell, 5, true);
  EXPECT_EQ(Listing("C:\\Games\\Cgames.ico"), kThreeSizes);
  SetDriveIcon("D:\\", shell, 11, true);
  EXPECT_EQ(Listing("D:\\AutoRunD.ico"), kThreeSizes);
  // Colorized, and installed for a file type.
  TAdvancedIcon icon;
  LoadIconFromLocation(shell, "3", &icon);
  ColorizeIcon(&icon, clRed);
  SaveIconReplacing(icon, "C:\\colorized.ico", 0x80);
  EXPECT_EQ(Listing("C:\\colorized.ico"), kThreeSizes);
  ASSERT_TRUE(InstallFileTypeIcon(&icon, "txt"));
  EXPECT_EQ(Listing(std::string(kInstalledIconsFolder) + "\\txt.ico"), kThreeSizes);
}

TEST_F(CustomizeOracle, LoadIconFromLocationMatchesWhatWrestoolTakesFromTheLibrary) {
  const std::string shell = System32() + "shell32.dll";
  struct Case {
    const char* indexText;
    const char* group;  // the resource number wrestool is asked for
  } cases[] = {{"-137", "137"}, {"5", "6"}, {"-138", "138"}};
  for (const Case& c : cases) {
    TAdvancedIcon icon;
    LoadIconFromLocation(shell, c.indexText, &icon);
    ASSERT_EQ(icon.Count(), 3) << c.indexText;
    const std::string ours = dir.File(std::string("ours") + c.group + ".ico");
    icon.SaveToFile(ours);
    const std::string theirs = dir.File(std::string("theirs") + c.group + ".ico");
    ASSERT_EQ(qvtest::RunCommand("wrestool -x --type=group_icon --name=" + std::string(c.group) + " '" + NativePath(shell) +
                                 "' -o '" + theirs + "'"),
              0);
    const std::string answer = Python(R"(
import sys
from PIL import IcoImagePlugin, Image
a, b = Image.open(sys.argv[1]), Image.open(sys.argv[2])
sizes = sorted(a.info['sizes'])
assert sizes == sorted(b.info['sizes']), (sizes, b.info['sizes'])
for s in sizes:
    x = a.ico.getimage(s).convert('RGBA')
    y = b.ico.getimage(s).convert('RGBA')
    assert x.tobytes() == y.tobytes(), s
print(len(sizes))
)",
                                      {ours, theirs});
    EXPECT_EQ(answer, "3\n") << c.indexText;
  }
}

TEST_F(CustomizeOracle, ConfigparserReadsDesktopIniAndAutorunInfWithTheirKeys) {
  ForceDirectories("C:\\Games");
  SetFolderIcon("C:\\Games", System32() + "shell32.dll", -137, false);
  SetDriveIcon("D:\\", System32() + "shell32.dll", 11, true);
  const std::string script = R"(
import sys, configparser
p = configparser.ConfigParser(interpolation=None)
p.optionxform = str
p.read(sys.argv[1])
for s in p.sections():
    print('[' + s + ']')
    for k, v in p.items(s):
        print(k + '=' + v)
)";
  EXPECT_EQ(Python(script, {NativePath("C:\\Games\\desktop.ini")}),
            "[.ShellClassInfo]\nIconFile=C:\\Windows\\System32\\shell32.dll\nIconIndex=-137\nConfirmFileOp=0\n"
            "OriginalIcon=%\n");
  EXPECT_EQ(Python(script, {NativePath("D:\\Autorun.inf")}), "[AutoRun]\nicon=AutoRunD.ico,0\n");
}

}  // namespace
