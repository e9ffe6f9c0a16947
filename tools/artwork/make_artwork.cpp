// Draws the program icon (32x32) and the two logos (111x28, 16 colours) and
// writes them as palette + index rows for resources/artwork_data.inc.
// Build and run once:
//   g++ -std=c++20 -fPIC make_artwork.cpp $(pkg-config --cflags --libs Qt6Gui) -o make_artwork
//   QT_QPA_PLATFORM=offscreen ./make_artwork > ../../resources/artwork_data.inc
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

// An optical disc: silver ring, dark hub, an amber spot where the laser reads.
void DrawDisc(QPainter& p, QPointF centre, double radius) {
  QRadialGradient g(centre, radius, centre - QPointF(radius * 0.3, radius * 0.3));
  g.setColorAt(0.0, QColor(0xFF, 0xFF, 0xFF));
  g.setColorAt(0.6, QColor(0xC9, 0xCE, 0xD6));
  g.setColorAt(1.0, QColor(0x8F, 0x97, 0xA3));
  p.setPen(QPen(QColor(0x5E, 0x65, 0x70), 1.0));
  p.setBrush(g);
  p.drawEllipse(centre, radius, radius);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x86, 0xAE, 0xE5));
  p.drawEllipse(centre, radius * 0.62, radius * 0.62);
  p.setBrush(QColor(0xE4, 0xEE, 0xFA));
  p.drawEllipse(centre, radius * 0.34, radius * 0.34);
  p.setBrush(QColor(0x10, 0x27, 0x5A));
  p.drawEllipse(centre, radius * 0.14, radius * 0.14);
  p.setBrush(QColor(0xF2, 0xA4, 0x31));
  p.drawEllipse(centre + QPointF(radius * 0.48, -radius * 0.48), radius * 0.16, radius * 0.16);
}

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

QImage DrawIcon() {
  constexpr int kS = 32;
  QImage img(kS, kS, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  DrawDisc(p, QPointF(14.5, 14.5), 13.0);
  // A green arrow: firmware going into the drive.
  QPainterPath arrow;
  arrow.moveTo(22, 15);
  arrow.lineTo(28, 15);
  arrow.lineTo(28, 23);
  arrow.lineTo(31, 23);
  arrow.lineTo(25, 30);
  arrow.lineTo(19, 23);
  arrow.lineTo(22, 23);
  arrow.closeSubpath();
  p.setPen(QPen(QColor(0x10, 0x27, 0x5A), 1.0));
  p.setBrush(QColor(0x2E, 0x9E, 0x5B));
  p.drawPath(arrow);
  p.end();
  return img;
}

}  // namespace

int main(int argc, char** argv) {
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
