// Draws the program icon (32x32) and the two logos (111x28, 16 colours) and
// writes them as palette + index rows for resources/artwork_data.inc.
// Build and run once (the resource data is committed):
//   g++ -std=c++20 -fPIC make_artwork.cpp $(pkg-config --cflags --libs Qt6Gui) -o make_artwork
//   QT_QPA_PLATFORM=offscreen ./make_artwork > ../../resources/artwork_data.inc
// With --icons DIR NAME it draws the same icon for the desktop instead: a hicolor
// tree of PNGs from 16 to 256 pixels, each painted at its own size from the
// shapes below, and an SVG of those shapes (the build does this, see CMakeLists.txt).
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

using Palette = std::array<std::uint32_t, 16>;

// Deep blue ramp for the background and glyph edges, white and silver for the
// name, an amber accent for the disc's laser spot. Index 0 is transparent in the icon.
constexpr Palette kLogoPalette = {
    0xFF0A1A3Cu, 0xFF10275Au, 0xFF163574u, 0xFF1D4590u, 0xFF2757ABu, 0xFF3A6FC4u, 0xFF5A8AD6u, 0xFF86AEE5u,
    0xFFB7D0F0u, 0xFFE4EEFAu, 0xFFFFFFFFu, 0xFFC9CED6u, 0xFF8F97A3u, 0xFFF2A431u, 0xFFFFD27Au, 0xFF000000u,
};
constexpr Palette kIconPalette = {
    0x00000000u, 0xFF10275Au, 0xFF1D4590u, 0xFF3A6FC4u, 0xFF86AEE5u, 0xFFE4EEFAu, 0xFFFFFFFFu, 0xFFC9CED6u,
    0xFF8F97A3u, 0xFF5E6570u, 0xFFF2A431u, 0xFFFFD27Au, 0xFF2E9E5Bu, 0xFF7FD39Bu, 0xFFB44CC2u, 0xFF000000u,
};

int Nearest(QRgb c, const Palette& pal, bool transparentZero) {
  if (transparentZero && qAlpha(c) < 128) return 0;
  int best = transparentZero ? 1 : 0;
  long bestDist = std::numeric_limits<long>::max();
  for (int i = transparentZero ? 1 : 0; i < 16; ++i) {
    const long dr = qRed(c) - static_cast<long>((pal[i] >> 16) & 0xFF);
    const long dg = qGreen(c) - static_cast<long>((pal[i] >> 8) & 0xFF);
    const long db = qBlue(c) - static_cast<long>(pal[i] & 0xFF);
    const long d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
    if (d < bestDist) {
      bestDist = d;
      best = i;
    }
  }
  return best;
}

void Emit(const char* name, const QImage& img, const Palette& pal, bool transparentZero) {
  std::printf("inline constexpr ArtworkData %s{\n    %d, %d,\n    {{", name, img.width(), img.height());
  for (int i = 0; i < 16; ++i) std::printf("%s0x%08Xu", i ? ", " : "", pal[i]);
  std::printf("}},\n");
  for (int y = 0; y < img.height(); ++y) {
    std::string row;
    for (int x = 0; x < img.width(); ++x) row += "0123456789abcdef"[Nearest(img.pixel(x, y), pal, transparentZero)];
    std::printf("    \"%s\"\n", row.c_str());
  }
  std::printf("};\n\n");
}

// The icon's shapes, kept as data so that the painter and the SVG writer draw
// the very same picture.
struct GradientStop {
  double at;
  QColor color;
};
struct Shape {
  std::vector<QPointF> points;  // a closed polygon; none for a circle
  QPointF centre;               // a circle
  double radius = 0.0;
  QColor fill;
  std::vector<GradientStop> radial;  // a radial fill over the circle instead of `fill`
  QPointF focal;
  QColor stroke;  // no stroke when invalid
  double strokeWidth = 0.0;
};

// An optical disc: silver ring, dark hub, an amber spot where the laser reads.
std::vector<Shape> DiscShapes(QPointF centre, double radius) {
  const auto circle = [&](double scale, QColor fill, QPointF offset = {}) {
    Shape s;
    s.centre = centre + offset * radius;
    s.radius = radius * scale;
    s.fill = fill;
    return s;
  };
  Shape ring = circle(1.0, {});
  ring.radial = {{0.0, QColor(0xFF, 0xFF, 0xFF)}, {0.6, QColor(0xC9, 0xCE, 0xD6)}, {1.0, QColor(0x8F, 0x97, 0xA3)}};
  ring.focal = centre - QPointF(radius * 0.3, radius * 0.3);
  ring.stroke = QColor(0x5E, 0x65, 0x70);
  ring.strokeWidth = 1.0;
  return {ring,
          circle(0.62, QColor(0x86, 0xAE, 0xE5)),
          circle(0.34, QColor(0xE4, 0xEE, 0xFA)),
          circle(0.14, QColor(0x10, 0x27, 0x5A)),
          circle(0.16, QColor(0xF2, 0xA4, 0x31), QPointF(0.48, -0.48))};
}

constexpr int kIconDesignSize = 32;  // the shapes' units; the resource icon is drawn 1:1

// The disc and a green arrow: firmware going into the drive.
std::vector<Shape> IconShapes() {
  std::vector<Shape> shapes = DiscShapes(QPointF(14.5, 14.5), 13.0);
  Shape arrow;
  arrow.points = {{22, 15}, {28, 15}, {28, 23}, {31, 23}, {25, 30}, {19, 23}, {22, 23}};
  arrow.fill = QColor(0x2E, 0x9E, 0x5B);
  arrow.stroke = QColor(0x10, 0x27, 0x5A);
  arrow.strokeWidth = 1.0;
  shapes.push_back(arrow);
  return shapes;
}

void Paint(QPainter& p, const std::vector<Shape>& shapes) {
  for (const Shape& s : shapes) {
    p.setPen(s.stroke.isValid() ? QPen(s.stroke, s.strokeWidth) : QPen(Qt::NoPen));
    if (s.radial.empty()) {
      p.setBrush(s.fill);
    } else {
      QRadialGradient g(s.centre, s.radius, s.focal);
      for (const GradientStop& stop : s.radial) g.setColorAt(stop.at, stop.color);
      p.setBrush(g);
    }
    if (s.points.empty()) {
      p.drawEllipse(s.centre, s.radius, s.radius);
    } else {
      QPainterPath path;
      path.moveTo(s.points.front());
      for (std::size_t i = 1; i < s.points.size(); ++i) path.lineTo(s.points[i]);
      path.closeSubpath();
      p.drawPath(path);
    }
  }
}

void DrawDisc(QPainter& p, QPointF centre, double radius) { Paint(p, DiscShapes(centre, radius)); }

QImage DrawLogo(const QString& name) {
  constexpr int kW = 111, kH = 28;
  QImage img(kW, kH, QImage::Format_ARGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient bg(0, 0, 0, kH);
  bg.setColorAt(0.0, QColor(0x27, 0x57, 0xAB));
  bg.setColorAt(1.0, QColor(0x0A, 0x1A, 0x3C));
  p.fillRect(img.rect(), bg);
  DrawDisc(p, QPointF(14.0, 14.0), 10.5);
  QFont f("DejaVu Sans");
  f.setBold(true);
  f.setPixelSize(name.size() > 5 ? 17 : 19);
  p.setFont(f);
  const QRect textArea(28, 0, kW - 30, kH - 2);
  p.setPen(QColor(0x0A, 0x1A, 0x3C));
  p.drawText(textArea.translated(1, 1), Qt::AlignCenter, name);
  p.setPen(QColor(0xFF, 0xFF, 0xFF));
  p.drawText(textArea, Qt::AlignCenter, name);
  // An amber underline tells the two apart at a glance as well as the name does.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xF2, 0xA4, 0x31));
  p.drawRect(QRectF(30, kH - 4, kW - 34, 1.5));
  p.end();
  return img;
}

// The icon at `size` pixels: the shapes scaled, so every size is painted
// afresh rather than enlarged from another.
QImage DrawIcon(int size = kIconDesignSize) {
  QImage img(size, size, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const double scale = static_cast<double>(size) / kIconDesignSize;
  p.scale(scale, scale);
  Paint(p, IconShapes());
  p.end();
  return img;
}

std::string Number(double v) { return QString::number(v, 'g', 6).toStdString(); }
std::string Colour(const QColor& c) { return c.name(QColor::HexRgb).toStdString(); }

std::string IconSvg() {
  const std::string size = std::to_string(kIconDesignSize);
  std::string defs;
  std::string body;
  int gradients = 0;
  for (const Shape& s : IconShapes()) {
    std::string fill = Colour(s.fill);
    if (!s.radial.empty()) {
      const std::string id = "g" + std::to_string(gradients++);
      defs += "    <radialGradient id=\"" + id + "\" gradientUnits=\"userSpaceOnUse\" cx=\"" + Number(s.centre.x()) +
              "\" cy=\"" + Number(s.centre.y()) + "\" r=\"" + Number(s.radius) + "\" fx=\"" + Number(s.focal.x()) +
              "\" fy=\"" + Number(s.focal.y()) + "\">\n";
      for (const GradientStop& stop : s.radial) {
        defs += "      <stop offset=\"" + Number(stop.at) + "\" stop-color=\"" + Colour(stop.color) + "\"/>\n";
      }
      defs += "    </radialGradient>\n";
      fill = "url(#" + id + ")";
    }
    std::string paint = " fill=\"" + fill + "\"";
    if (s.stroke.isValid()) paint += " stroke=\"" + Colour(s.stroke) + "\" stroke-width=\"" + Number(s.strokeWidth) + "\"";
    if (s.points.empty()) {
      body += "  <circle cx=\"" + Number(s.centre.x()) + "\" cy=\"" + Number(s.centre.y()) + "\" r=\"" +
              Number(s.radius) + "\"" + paint + "/>\n";
    } else {
      std::string points;
      for (const QPointF& pt : s.points) points += (points.empty() ? "" : " ") + Number(pt.x()) + "," + Number(pt.y());
      body += "  <polygon points=\"" + points + "\"" + paint + "/>\n";
    }
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + size + "\" height=\"" + size + "\" viewBox=\"0 0 " +
         size + " " + size + "\">\n  <defs>\n" + defs + "  </defs>\n" + body + "</svg>\n";
}

// The hicolor sizes a desktop asks for, from the menu's 16 to the launcher's 256.
constexpr std::array<int, 8> kIconSizes = {16, 22, 24, 32, 48, 64, 128, 256};

int WriteIconTheme(const QString& root, const QString& name) {
  for (const int size : kIconSizes) {
    const QString dir = root + QString("/%1x%1/apps").arg(size);
    if (!QDir().mkpath(dir) || !DrawIcon(size).save(dir + "/" + name + ".png")) {
      std::fprintf(stderr, "make_artwork: cannot write %s\n", qPrintable(dir));
      return 1;
    }
  }
  const QString scalable = root + "/scalable/apps";
  QFile svg(scalable + "/" + name + ".svg");
  const std::string text = IconSvg();
  if (!QDir().mkpath(scalable) || !svg.open(QIODevice::WriteOnly) ||
      svg.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size())) {
    std::fprintf(stderr, "make_artwork: cannot write %s\n", qPrintable(svg.fileName()));
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // The icons need no fonts, so no platform plugin either: the build runs this.
  if (argc == 4 && std::string(argv[1]) == "--icons") {
    return WriteIconTheme(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
  }
  QGuiApplication app(argc, argv);
  // With a directory argument, also writes enlarged PNG previews there.
  if (argc > 1) {
    const QString dir = QString::fromLocal8Bit(argv[1]);
    DrawIcon().scaled(128, 128).save(dir + "/icon_preview.png");
    DrawLogo("Orvel").scaled(444, 112).save(dir + "/orvel_logo_preview.png");
    DrawLogo("Orvelin").scaled(444, 112).save(dir + "/orvelin_logo_preview.png");
  }
  std::printf("// Generated by tools/artwork/make_artwork.cpp; palette + one hex digit per pixel.\n\n");
  Emit("kIconArtwork", DrawIcon(), kIconPalette, true);
  Emit("kOrvelLogoArtwork", DrawLogo("Orvel"), kLogoPalette, false);
  Emit("kOrvelinLogoArtwork", DrawLogo("Orvelin"), kLogoPalette, false);
  return 0;
}
