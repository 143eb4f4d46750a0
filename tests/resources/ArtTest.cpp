// The artwork compiled into the program: every picture is there, draws at the size the window's
// layout assumes, and is not blank; every pointer shape has a hotspot that touches its picture, and
// the hotspot list refuses a bad line with the file and the line.
//
// Set TAMSEL_ART_DUMP to a folder to get each picture rendered there as PNG, for a look by eye.

#include "ArtCursors.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSet>
#include <QSvgRenderer>
#include <QTemporaryDir>

#include <map>
#include <ostream>
#include <string>

namespace {

/// How a picture is meant to be shown: over other pictures, or covering the window itself.
enum class Backdrop { Transparent, Opaque };

struct Picture {
  const char* name;
  int width;
  int height;
  Backdrop backdrop;
};

constexpr Picture PICTURES[] = {
    {"background.svg", 784, 599, Backdrop::Opaque},
    {"logo.svg", 436, 349, Backdrop::Transparent},
    {"video-non.svg", 128, 128, Backdrop::Transparent},
    {"video-yes.svg", 128, 128, Backdrop::Transparent},
    {"not-ready.svg", 128, 128, Backdrop::Transparent},
    {"ready-go.svg", 128, 128, Backdrop::Transparent},
    {"setup.svg", 96, 96, Backdrop::Transparent},
    {"tools.svg", 96, 96, Backdrop::Transparent},
    {"tamsel.svg", 256, 256, Backdrop::Transparent},
    {"cursor-01.svg", 32, 32, Backdrop::Transparent},
    {"cursor-02.svg", 32, 32, Backdrop::Transparent},
    {"cursor-03.svg", 32, 32, Backdrop::Transparent},
    {"cursor-04.svg", 32, 32, Backdrop::Transparent},
    {"cursor-05.svg", 32, 32, Backdrop::Transparent},
    {"cursor-06.svg", 32, 32, Backdrop::Transparent},
    {"cursor-07.svg", 32, 32, Backdrop::Transparent},
    {"cursor-08.svg", 32, 32, Backdrop::Transparent},
    {"cursor-09.svg", 32, 32, Backdrop::Transparent},
    {"cursor-10.svg", 32, 32, Backdrop::Transparent},
    {"cursor-11.svg", 32, 32, Backdrop::Transparent},
    {"cursor-12.svg", 32, 32, Backdrop::Transparent},
};

const QColor WINDOW_COLOUR(40, 90, 120);

QString ResourcePath(const char* name) { return QStringLiteral(":/art/") + QLatin1String(name); }

/// Renders a picture at its own size onto a transparent image.
QImage Render(const QString& path) {
  QSvgRenderer renderer(path);
  QImage image(renderer.defaultSize(), QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  renderer.render(&painter);
  painter.end();
  const QByteArray dump = qgetenv("TAMSEL_ART_DUMP");
  if (!dump.isEmpty()) {
    QDir().mkpath(QString::fromLocal8Bit(dump));
    image.save(QString::fromLocal8Bit(dump) + "/" + QFileInfo(path).fileName() + ".png");
  }
  return image;
}

struct PixelCounts {
  int clear = 0;   ///< fully transparent pixels
  int drawn = 0;   ///< pixels at least a quarter opaque
  int opaque = 0;  ///< fully opaque pixels
  QSet<QRgb> colours;
};

PixelCounts Count(const QImage& image) {
  PixelCounts counts;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QRgb pixel = image.pixel(x, y);
      if (qAlpha(pixel) == 0) ++counts.clear;
      if (qAlpha(pixel) >= 64) ++counts.drawn;
      if (qAlpha(pixel) == 255) ++counts.opaque;
      counts.colours.insert(pixel);
    }
  return counts;
}

void PrintTo(const Picture& picture, std::ostream* out) { *out << picture.name; }

class ArtPicture : public ::testing::TestWithParam<Picture> {};

TEST_P(ArtPicture, LoadsAtItsSizeAndIsNotBlank) {
  const Picture& picture = GetParam();
  const QString path = ResourcePath(picture.name);
  ASSERT_TRUE(QFile::exists(path)) << picture.name;

  QSvgRenderer renderer(path);
  ASSERT_TRUE(renderer.isValid()) << picture.name;
  EXPECT_EQ(renderer.defaultSize(), QSize(picture.width, picture.height)) << picture.name;
  // The drawing's own coordinates span the same square or rectangle, so nothing is squeezed.
  EXPECT_EQ(renderer.viewBoxF(), QRectF(0, 0, picture.width, picture.height)) << picture.name;

  const QImage image = Render(path);
  const PixelCounts counts = Count(image);
  const int all = image.width() * image.height();
  if (picture.backdrop == Backdrop::Transparent) {
    EXPECT_GT(counts.clear, all / 10) << picture.name << " has no transparent surroundings";
    // A dimmed picture may be translucent throughout, but it still has to show.
    EXPECT_GT(counts.drawn, all / 40) << picture.name << " draws almost nothing";
  } else {
    EXPECT_EQ(counts.opaque, all) << picture.name << " leaves holes in the window";
    EXPECT_GT(counts.colours.size(), 16) << picture.name << " is a flat colour";
  }
}

INSTANTIATE_TEST_SUITE_P(Resources, ArtPicture, ::testing::ValuesIn(PICTURES),
                         [](const ::testing::TestParamInfo<Picture>& info) {
                           std::string name = info.param.name;
                           name = name.substr(0, name.find('.'));
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

// The background is mostly the window's own colour, so that the window does not change its look
// where the stretched picture ends or before it is drawn.
TEST(ArtBackground, IsMostlyTheWindowColour) {
  const QImage image = Render(ResourcePath("background.svg"));
  double red = 0, green = 0, blue = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QRgb pixel = image.pixel(x, y);
      red += qRed(pixel);
      green += qGreen(pixel);
      blue += qBlue(pixel);
    }
  const double n = double(image.width()) * image.height();
  EXPECT_NEAR(red / n, WINDOW_COLOUR.red(), 16);
  EXPECT_NEAR(green / n, WINDOW_COLOUR.green(), 16);
  EXPECT_NEAR(blue / n, WINDOW_COLOUR.blue(), 16);
}

TEST(ArtCursors, EveryShapeHasAHotspotOnItsPicture) {
  std::map<QString, QPoint> hotspots;
  QString error;
  ASSERT_TRUE(tamsel::ReadCursorHotspots(tamsel::ART_CURSOR_HOTSPOTS, hotspots, error))
      << error.toStdString();
  EXPECT_EQ(hotspots.size(), size_t(tamsel::ART_CURSOR_COUNT));
  for (int number = 1; number <= tamsel::ART_CURSOR_COUNT; ++number) {
    const QString path = tamsel::ArtCursorPath(number);
    const auto found = hotspots.find(QFileInfo(path).fileName());
    ASSERT_NE(found, hotspots.end()) << path.toStdString() << " is missing from cursors.txt";
    const QPoint spot = found->second;
    // The hotspot lies on the drawn shape or right beside it, never out in empty space.
    const QImage image = Render(path);
    bool touches = false;
    for (int dy = -2; dy <= 2; ++dy)
      for (int dx = -2; dx <= 2; ++dx) {
        const QPoint p = spot + QPoint(dx, dy);
        if (image.rect().contains(p) && qAlpha(image.pixel(p)) > 0) touches = true;
      }
    EXPECT_TRUE(touches) << path.toStdString() << " hotspot " << spot.x() << "," << spot.y();
  }
  // The speed zones point with their middle, the default pointer with its tip at the top left.
  EXPECT_EQ(hotspots.at("cursor-06.svg"), QPoint(16, 16));
  EXPECT_LT(hotspots.at("cursor-12.svg").x(), 8);
  EXPECT_LT(hotspots.at("cursor-12.svg").y(), 8);
}

struct BadHotspots {
  const char* text;
  int line;  ///< the line the message names, 0 for none
  const char* complaint;
};

constexpr BadHotspots BAD_HOTSPOTS[] = {
    {"cursor-01.svg 16\n", 1, "应为“图片名 x y”"},
    {"\ncursor-01.svg 16 16\ncursor-02.svg x 16\n", 3, "应为“图片名 x y”"},
    {"cursor-01.svg 16 16 4\n", 1, "应为“图片名 x y”"},
    {"cursor-01.svg 32 16\n", 1, "热点不在32×32的图片内"},
    {"cursor-01.svg 0 -1\n", 1, "热点不在32×32的图片内"},
    {"cursor-01.svg 16 16\ncursor-01.svg 15 15\n", 2, "图片重复"},
};

TEST(ArtCursors, ABadHotspotListIsRefusedWithItsFileAndLine) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("cursors.txt");
  for (const BadHotspots& bad : BAD_HOTSPOTS) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bad.text);
    file.close();
    std::map<QString, QPoint> hotspots;
    QString error;
    EXPECT_FALSE(tamsel::ReadCursorHotspots(path, hotspots, error)) << bad.text;
    EXPECT_TRUE(error.startsWith(path + "\r")) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("第%1行：").arg(bad.line))) << error.toStdString();
    EXPECT_TRUE(error.contains(QString::fromUtf8(bad.complaint))) << error.toStdString();
  }
  std::map<QString, QPoint> hotspots;
  QString error;
  EXPECT_FALSE(tamsel::ReadCursorHotspots(dir.filePath("none.txt"), hotspots, error));
  EXPECT_TRUE(error.startsWith(dir.filePath("none.txt") + "\r")) << error.toStdString();
}

TEST(ArtCursors, AGoodHotspotListIsReadWhole) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("cursors.txt");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("cursor-01.svg 0 0\n\n  cursor-02.svg   31 7  \ncursor-03.svg 16 31");
  file.close();
  std::map<QString, QPoint> hotspots;
  QString error;
  ASSERT_TRUE(tamsel::ReadCursorHotspots(path, hotspots, error)) << error.toStdString();
  const std::map<QString, QPoint> expected = {
      {"cursor-01.svg", {0, 0}}, {"cursor-02.svg", {31, 7}}, {"cursor-03.svg", {16, 31}}};
  EXPECT_EQ(hotspots, expected);
}

// A pointer has to show over any video and over the black waveform strip: a dark shape inside a
// light outline.
TEST(ArtCursors, AreDarkInsideALightOutline) {
  for (int number = 1; number <= tamsel::ART_CURSOR_COUNT; ++number) {
    const QString name = tamsel::ArtCursorPath(number);
    const QImage image = Render(name);
    int dark = 0, light = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, y);
        if (c.alpha() < 255) continue;
        if (c.lightness() < 60) ++dark;
        if (c.lightness() > 220) ++light;
      }
    EXPECT_GE(dark, 30) << name.toStdString();
    EXPECT_GE(light, 30) << name.toStdString();
    // The outline wraps the shape: the first and last opaque pixels of every row are light.
    for (int y = 0; y < image.height(); ++y) {
      int first = -1, last = -1;
      for (int x = 0; x < image.width(); ++x)
        if (image.pixelColor(x, y).alpha() == 255) {
          if (first < 0) first = x;
          last = x;
        }
      if (first < 0) continue;
      EXPECT_GT(image.pixelColor(first, y).lightness(), 150) << name.toStdString() << " row " << y;
      EXPECT_GT(image.pixelColor(last, y).lightness(), 150) << name.toStdString() << " row " << y;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
