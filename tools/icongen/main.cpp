// icongen: draws the Mirabex application icon and the two environment
// indicators, and writes them as PNG files plus a Windows .ico file.
//
// Usage: icongen <output-folder>
//
// Only QImage/QPainter are used, so the program runs without a display
// (it selects the "offscreen" platform itself when QT_QPA_PLATFORM is unset).
// Nothing depends on time or randomness: running it twice on the same machine
// produces the same bytes.

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// 96 dpi, so that the pHYs chunk never depends on the screen.
constexpr int kDotsPerMeter = 3780;

const QString kFontFamily = QStringLiteral("DejaVu Sans");

QImage newCanvas(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    image.setDotsPerMeterX(kDotsPerMeter);
    image.setDotsPerMeterY(kDotsPerMeter);
    return image;
}

// ---------------------------------------------------------------------------
// Application icon: a blue rounded square with two opposing arrows
// (switching between two environments).
// ---------------------------------------------------------------------------

struct IconGeometry {
    double inset;       // distance between the image edge and the square
    double radius;      // corner radius of the square
    double rim;         // width of the darker outline (0 = none)
    double shaft;       // arrow shaft thickness
    double topY;        // centre line of the arrow pointing right
    double bottomY;     // centre line of the arrow pointing left
    double left;        // leftmost x of the arrows
    double right;       // rightmost x of the arrows
    double headLength;  // arrow head length along x
    double headHalf;    // half height of the arrow head
    double headRound;   // rounding of the arrow head corners (0 = sharp)
    bool roundTail;     // round cap at the tail of the shaft
};

// The three sizes are drawn with their own geometry: at 16 and 32 px the
// shafts sit exactly on the pixel grid so the arrows stay crisp.
IconGeometry iconGeometry(int size)
{
    switch (size) {
    case 16:
        return {0.0, 3.0, 1.0, 2.0, 5.0, 11.0, 3.0, 13.0, 3.0, 3.0, 0.0, false};
    case 32:
        return {1.0, 6.0, 1.0, 4.0, 11.0, 21.0, 6.0, 26.0, 7.0, 6.0, 0.0, false};
    default: {
        // 256 px master, scaled for any other size.
        const double k = size / 256.0;
        return {8 * k, 50 * k, 0.0, 26 * k, 92 * k, 164 * k, 60 * k, 196 * k,
                52 * k, 40 * k, 6 * k, true};
    }
    }
}

void drawArrow(QPainter &p, const IconGeometry &g, double y, bool pointsRight,
               const QColor &color)
{
    const double tip = pointsRight ? g.right : g.left;
    const double base = pointsRight ? g.right - g.headLength : g.left + g.headLength;
    const double tail = pointsRight ? g.left : g.right;

    // Shaft, slightly overlapping the head so no seam shows.
    const double overlap = pointsRight ? 0.5 : -0.5;
    if (g.roundTail) {
        QPen pen(color, g.shaft, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        const double capped = pointsRight ? tail + g.shaft / 2 : tail - g.shaft / 2;
        p.drawLine(QPointF(capped, y), QPointF(base + overlap, y));
    } else {
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        const double x0 = std::min(tail, base + overlap);
        const double x1 = std::max(tail, base + overlap);
        p.drawRect(QRectF(x0, y - g.shaft / 2, x1 - x0, g.shaft));
    }

    // Head.
    QPolygonF head;
    head << QPointF(base, y - g.headHalf) << QPointF(tip, y)
         << QPointF(base, y + g.headHalf);
    if (g.headRound > 0) {
        // A round-joined outline in the same colour softens the corners.
        p.setPen(QPen(color, g.headRound, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(color);
        p.drawPolygon(head);
    } else {
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawPolygon(head);
    }
}

QImage drawIcon(int size)
{
    const IconGeometry g = iconGeometry(size);
    QImage image = newCanvas(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    const QRectF square(g.inset, g.inset, size - 2 * g.inset, size - 2 * g.inset);

    QLinearGradient fill(square.topLeft(), square.bottomLeft());
    fill.setColorAt(0.0, QColor(0x4a, 0x8d, 0xf2));
    fill.setColorAt(1.0, QColor(0x1d, 0x4e, 0xc0));

    if (g.rim > 0) {
        // Darker outline so the square keeps its shape on light task bars.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x17, 0x3f, 0x9a));
        p.drawRoundedRect(square, g.radius, g.radius);
        const QRectF inner = square.adjusted(g.rim, g.rim, -g.rim, -g.rim);
        p.setBrush(fill);
        p.drawRoundedRect(inner, g.radius - g.rim, g.radius - g.rim);
    } else {
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawRoundedRect(square, g.radius, g.radius);
    }

    drawArrow(p, g, g.topY, true, QColor(0xff, 0xff, 0xff));
    drawArrow(p, g, g.bottomY, false, QColor(0xff, 0xff, 0xff));
    p.end();
    return image;
}

// ---------------------------------------------------------------------------
// Environment indicators (512 x 512): a coloured square in the upper part and
// the environment name underneath, on a transparent background.
// ---------------------------------------------------------------------------

constexpr int kIndicatorSize = 512;
const QRectF kIndicatorSquare(88, 20, 336, 336);
constexpr double kIndicatorRadius = 60;
constexpr double kTextMargin = 28;  // minimum free space left and right of the text
constexpr double kTextTop = 368;    // text band, below the square
constexpr double kTextBottom = 500;

QFont labelFont(double pixelSize)
{
    QFont font(kFontFamily);
    font.setBold(true);
    font.setPixelSize(int(pixelSize));
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

// One size for both labels: the largest that fits the longest word.
QFont indicatorFont()
{
    const QString longest = QStringLiteral(u"D\u00e9veloppement");
    const double available = kIndicatorSize - 2 * kTextMargin;
    int size = 64;
    for (; size > 8; --size) {
        QPainterPath path;
        path.addText(0, 0, labelFont(size), longest);
        if (path.boundingRect().width() <= available)
            break;
    }
    return labelFont(size);
}

void drawLabel(QPainter &p, const QString &text, const QColor &color)
{
    const QFont font = indicatorFont();
    const QFontMetricsF metrics(font);
    QPainterPath path;
    path.addText(0, 0, font, text);
    const QRectF ink = path.boundingRect();
    // Centred horizontally on the ink; vertically the capital letters are
    // centred in the text band, so both labels share the same baseline.
    const double x = (kIndicatorSize - ink.width()) / 2 - ink.left();
    const double baseline = std::round((kTextTop + kTextBottom) / 2 + metrics.capHeight() / 2);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPath(path.translated(x, baseline));
}

void drawIndicatorSquare(QPainter &p, const QColor &top, const QColor &bottom)
{
    QLinearGradient fill(kIndicatorSquare.topLeft(), kIndicatorSquare.bottomLeft());
    fill.setColorAt(0.0, top);
    fill.setColorAt(1.0, bottom);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(kIndicatorSquare, kIndicatorRadius, kIndicatorRadius);
}

struct Gear {
    QPointF centre;
    int teeth;
    double module;  // pitch radius = module * teeth / 2
    double phase;   // angle of the centre of one tooth, radians
    double pitchRadius() const { return module * teeth / 2; }
};

QPainterPath gearPath(const Gear &gear)
{
    const double pitch = 2 * kPi / gear.teeth;
    // Short, wide teeth: reads as a gear even when the image is scaled down.
    const double outer = gear.pitchRadius() + 0.8 * gear.module;
    const double root = gear.pitchRadius() - 0.9 * gear.module;
    const double hole = root * 0.42;
    auto at = [&](double radius, double angle) {
        return gear.centre + QPointF(radius * std::cos(angle), radius * std::sin(angle));
    };

    QPolygonF outline;
    for (int i = 0; i < gear.teeth; ++i) {
        const double a = gear.phase + i * pitch;
        outline << at(root, a - 0.28 * pitch) << at(outer, a - 0.18 * pitch)
                << at(outer, a + 0.18 * pitch) << at(root, a + 0.28 * pitch);
        // Bottom land between this tooth and the next one.
        constexpr int steps = 6;
        for (int s = 1; s < steps; ++s)
            outline << at(root, a + (0.28 + 0.44 * s / steps) * pitch);
    }
    outline << outline.first();

    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    path.addPolygon(outline);
    path.addEllipse(gear.centre, hole, hole);
    return path;
}

// Places a gear so that it meshes with `driver` in direction `angle`.
Gear meshWith(const Gear &driver, int teeth, double angle)
{
    Gear gear{QPointF(), teeth, driver.module, 0};
    // A little more than the pitch distance: a visible gap between the teeth.
    const double distance = driver.pitchRadius() + gear.pitchRadius() + 0.45 * driver.module;
    gear.centre = driver.centre + QPointF(distance * std::cos(angle), distance * std::sin(angle));
    // Offset of the driver's nearest tooth from the line of centres...
    const double driverPitch = 2 * kPi / driver.teeth;
    double delta = std::fmod(angle - driver.phase, driverPitch);
    if (delta < 0)
        delta += driverPitch;
    if (delta > driverPitch / 2)
        delta -= driverPitch;
    // ...turned the other way, scaled by the ratio, with a gap facing the driver.
    gear.phase = angle + kPi + kPi / teeth + delta * driver.teeth / teeth;
    return gear;
}

QImage drawProduction()
{
    QImage image = newCanvas(kIndicatorSize);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    drawIndicatorSquare(p, QColor(0x3c, 0xb8, 0x62), QColor(0x1f, 0x8e, 0x47));

    const Gear big{QPointF(0, 0), 12, 11.5, kPi / 12};
    const Gear upper = meshWith(big, 9, -0.24 * kPi);
    const Gear lower = meshWith(big, 9, 0.27 * kPi);
    QPainterPath gears[] = {gearPath(big), gearPath(upper), gearPath(lower)};

    QRectF bounds;
    for (const QPainterPath &g : gears)
        bounds = bounds.united(g.boundingRect());
    const QPointF shift = kIndicatorSquare.center() - bounds.center();

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xff, 0xff));
    for (const QPainterPath &g : gears)
        p.drawPath(g.translated(shift));

    drawLabel(p, QStringLiteral("Production"), QColor(0x1f, 0x8e, 0x47));
    p.end();
    return image;
}

QImage drawDevelopment()
{
    QImage image = newCanvas(kIndicatorSize);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    drawIndicatorSquare(p, QColor(0xe4, 0xe7, 0xeb), QColor(0xc8, 0xcd, 0xd4));

    const QPointF c = kIndicatorSquare.center();
    const double gap = 40;     // half distance between the two bracket tips
    const double width = 72;   // horizontal extent of one bracket
    const double height = 84;  // half height of one bracket
    QPen pen(QColor(0x4b, 0x52, 0x5c), 36, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    QPolygonF lessThan;
    lessThan << QPointF(c.x() - gap, c.y() - height) << QPointF(c.x() - gap - width, c.y())
             << QPointF(c.x() - gap, c.y() + height);
    QPolygonF greaterThan;
    greaterThan << QPointF(c.x() + gap, c.y() - height) << QPointF(c.x() + gap + width, c.y())
                << QPointF(c.x() + gap, c.y() + height);
    p.drawPolyline(lessThan);
    p.drawPolyline(greaterThan);

    drawLabel(p, QStringLiteral(u"D\u00e9veloppement"), QColor(0x5b, 0x63, 0x6e));
    p.end();
    return image;
}

// ---------------------------------------------------------------------------
// Output
// ---------------------------------------------------------------------------

QByteArray pngBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image))
        qFatal("PNG encoding failed: %s", qPrintable(writer.errorString()));
    return bytes;
}

void putU8(QByteArray &out, unsigned v) { out.append(char(v & 0xff)); }
void putU16(QByteArray &out, unsigned v)
{
    putU8(out, v);
    putU8(out, v >> 8);
}
void putU32(QByteArray &out, quint32 v)
{
    putU16(out, v & 0xffff);
    putU16(out, v >> 16);
}

// 32-bit DIB as stored in .ico files: BITMAPINFOHEADER with twice the height,
// BGRA rows bottom-up, then the 1-bit AND mask (1 = transparent), every mask
// row padded to 32 bits.
QByteArray dibBytes(const QImage &source)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int w = image.width();
    const int h = image.height();
    const int maskStride = ((w + 31) / 32) * 4;

    QByteArray out;
    putU32(out, 40);          // biSize
    putU32(out, quint32(w));  // biWidth
    putU32(out, quint32(2 * h));  // biHeight: colour rows + mask rows
    putU16(out, 1);           // biPlanes
    putU16(out, 32);          // biBitCount
    putU32(out, 0);           // biCompression = BI_RGB
    putU32(out, quint32(w * h * 4 + maskStride * h));  // biSizeImage
    putU32(out, 0);           // biXPelsPerMeter
    putU32(out, 0);           // biYPelsPerMeter
    putU32(out, 0);           // biClrUsed
    putU32(out, 0);           // biClrImportant

    for (int y = h - 1; y >= 0; --y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            putU8(out, qBlue(line[x]));
            putU8(out, qGreen(line[x]));
            putU8(out, qRed(line[x]));
            putU8(out, qAlpha(line[x]));
        }
    }
    for (int y = h - 1; y >= 0; --y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        QByteArray row(maskStride, '\0');
        for (int x = 0; x < w; ++x) {
            if (qAlpha(line[x]) < 128)
                row[x / 8] = char(uchar(row[x / 8]) | (0x80 >> (x % 8)));
        }
        out.append(row);
    }
    return out;
}

struct IcoEntry {
    int size;          // 1..256
    QByteArray data;   // DIB or PNG bytes
};

QByteArray icoBytes(const std::vector<IcoEntry> &entries)
{
    QByteArray out;
    putU16(out, 0);  // reserved
    putU16(out, 1);  // type: icon
    putU16(out, unsigned(entries.size()));

    quint32 offset = quint32(6 + 16 * entries.size());
    for (const IcoEntry &e : entries) {
        putU8(out, e.size >= 256 ? 0 : unsigned(e.size));  // width, 0 = 256
        putU8(out, e.size >= 256 ? 0 : unsigned(e.size));  // height, 0 = 256
        putU8(out, 0);    // colour count (0 = no palette)
        putU8(out, 0);    // reserved
        putU16(out, 1);   // colour planes
        putU16(out, 32);  // bits per pixel
        putU32(out, quint32(e.data.size()));
        putU32(out, offset);
        offset += quint32(e.data.size());
    }
    for (const IcoEntry &e : entries)
        out.append(e.data);
    return out;
}

bool writeFile(const QDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(bytes) != bytes.size() || !file.flush()) {
        std::fprintf(stderr, "icongen: cannot write %s: %s\n", qPrintable(path),
                     qPrintable(file.errorString()));
        return false;
    }
    std::printf("%s (%lld bytes)\n", qPrintable(path), static_cast<long long>(bytes.size()));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QStringList args = QGuiApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: icongen <output-folder>\n");
        return 2;
    }

    const QFontInfo fontInfo(labelFont(48));
    if (fontInfo.family() != kFontFamily) {
        std::fprintf(stderr, "icongen: font \"%s\" not found (got \"%s\"); install fonts-dejavu-core\n",
                     qPrintable(kFontFamily), qPrintable(fontInfo.family()));
        return 1;
    }

    QDir dir(args.at(1));
    if (!dir.exists() && !QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "icongen: cannot create %s\n", qPrintable(dir.path()));
        return 1;
    }

    const QImage icon16 = drawIcon(16);
    const QImage icon32 = drawIcon(32);
    const QImage icon256 = drawIcon(256);
    const QByteArray png256 = pngBytes(icon256);

    const bool ok =
        writeFile(dir, QStringLiteral("icon-16.png"), pngBytes(icon16))
        && writeFile(dir, QStringLiteral("icon-32.png"), pngBytes(icon32))
        && writeFile(dir, QStringLiteral("icon-256.png"), png256)
        && writeFile(dir, QStringLiteral("prod.png"), pngBytes(drawProduction()))
        && writeFile(dir, QStringLiteral("developpement.png"), pngBytes(drawDevelopment()))
        && writeFile(dir, QStringLiteral("icon.ico"),
                     icoBytes({{16, dibBytes(icon16)}, {32, dibBytes(icon32)}, {256, png256}}));
    return ok ? 0 : 1;
}
