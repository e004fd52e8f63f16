// The main job on a machine without a display: kvtfields-desk plays the demo offscreen and
// leaves a picture of the window after each step, each showing the form.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QSet>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "temp_dir.h"

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(DeskDemo, WritesAPictureOfTheFilledFormAfterEachStep) {
  kvt::testing::TempDir dir;
  const std::string shots = dir.File("shots");
  // Settings and runtime files of its own: a person's, or another run's beside it, are never
  // read or written.
  const std::string command =
      "cd '" + dir.Path() + "' && mkdir -m 700 config runtime && XDG_CONFIG_HOME='" +
      dir.File("config") + "' XDG_RUNTIME_DIR='" + dir.File("runtime") +
      "' QT_QPA_PLATFORM=offscreen '" + KVTFIELDS_DESK + "' --demo '" + shots + "' > demo.txt 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << Slurp(dir.File("demo.txt"));
  const QStringList files = QDir(QString::fromStdString(shots)).entryList({"*.png"}, QDir::Files);
  ASSERT_EQ(files.size(), 8);  // the last one asks about unsaved changes
  QSize size;
  for (const QString& f : files) {
    const QImage picture(QString::fromStdString(shots) + "/" + f);
    ASSERT_FALSE(picture.isNull()) << f.toStdString();
    if (size.isEmpty()) size = picture.size();
    EXPECT_EQ(picture.size(), size) << f.toStdString();  // the window, every time
    EXPECT_GT(picture.width(), 400);
    EXPECT_GT(picture.height(), 200);
    // Not blank: captions, frames and text give many colours, and many pixels differ from
    // the window's background.
    QSet<QRgb> colours;
    int ink = 0;
    const QRgb background = picture.pixel(picture.width() - 1, picture.height() / 2);
    for (int y = 0; y < picture.height(); y += 2) {
      for (int x = 0; x < picture.width(); x += 2) {
        colours.insert(picture.pixel(x, y));
        ink += picture.pixel(x, y) != background ? 1 : 0;
      }
    }
    EXPECT_GT(colours.size(), 20) << f.toStdString();
    EXPECT_GT(ink, picture.width() * picture.height() / 4 / 20) << f.toStdString();
  }
  // The filled form: the step after the total was computed shows yellow, the focus colour.
  const QImage filled(QString::fromStdString(shots) + "/" + files[4]);
  bool yellow = false;
  for (int y = 0; y < filled.height() && !yellow; ++y) {
    for (int x = 0; x < filled.width() && !yellow; ++x)
      yellow = filled.pixel(x, y) == qRgb(255, 255, 0);
  }
  EXPECT_TRUE(yellow);
}

}  // namespace
