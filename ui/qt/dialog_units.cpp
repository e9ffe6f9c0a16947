#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QWidget>

#include <array>
#include <string_view>

#include "ui/qt/qt_window_system.h"

namespace orvel::ui {

namespace {

constexpr int kDialogUnitsPerBaseX = 4;
constexpr int kDialogUnitsPerBaseY = 8;
constexpr std::string_view kLatinLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// Face names of the Japanese gothic fonts templates ask for.
constexpr std::array<std::string_view, 4> kJapaneseGothicFaces = {
    "ＭＳ Ｐゴシック", "ＭＳ ゴシック", "MS PGothic", "MS Gothic"};
// Installed stand-ins, best first: the proportional gothic first, as the faces are.
constexpr std::array<std::string_view, 3> kGothicStandIns = {"IPAPGothic", "IPAGothic", "IPAexGothic"};

int MulDivRounded(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  const long long half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

bool Installed(const QString& family) { return QFontDatabase::families().contains(family, Qt::CaseInsensitive); }

}  // namespace

BaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = static_cast<int>(kLatinLetters.size());
  const int total = metrics.horizontalAdvance(QString::fromLatin1(kLatinLetters.data(), letters));
  return BaseUnits{(total + letters / 2) / letters, metrics.height()};
}

QRect DialogUnitsToPixels(const BaseUnits& units, int x, int y, int cx, int cy) {
  return QRect(MulDivRounded(x, units.x, kDialogUnitsPerBaseX), MulDivRounded(y, units.y, kDialogUnitsPerBaseY),
               MulDivRounded(cx, units.x, kDialogUnitsPerBaseX), MulDivRounded(cy, units.y, kDialogUnitsPerBaseY));
}

QString ResolveFontFamily(std::string_view face) {
  bool japanese = false;
  for (std::string_view f : kJapaneseGothicFaces) {
    japanese = japanese || f == face;
  }
  if (!japanese) {
    const QString wanted = QString::fromUtf8(face.data(), static_cast<qsizetype>(face.size()));
    if (!wanted.isEmpty() && Installed(wanted)) return wanted;
    return QGuiApplication::font().family();
  }
  for (std::string_view f : kGothicStandIns) {
    const QString family = QString::fromLatin1(f.data(), static_cast<qsizetype>(f.size()));
    if (Installed(family)) return family;
  }
  const QStringList withJapanese = QFontDatabase::families(QFontDatabase::Japanese);
  if (!withJapanese.isEmpty()) return withJapanese.front();
  return QGuiApplication::font().family();
}

bool SaveScreenshot(QWidget& widget, const std::string& path) {
  return widget.grab().save(QString::fromStdString(path), "PNG");
}

}  // namespace orvel::ui
