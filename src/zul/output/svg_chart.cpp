#include "zul/output/svg_chart.hpp"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

namespace zul::output {

namespace {

constexpr double kFont = 12;
constexpr double kTick = 5;
constexpr double kLeftMargin = 64;    // from the outer edge to the y axis
constexpr double kAxisTitleRoom = 22;  // the rotated y-axis title and a gap

// The width of a tick label in the 12-pixel sans-serif font (advances of
// the widest common faces, so that an estimate errs on the wide side).
double labelWidth(const std::string& text) {
  double w = 0;
  for (char c : text) w += c == '.' ? 3.9 : c == '-' ? 4.4 : c == '+' ? 10.1 : 7.7;
  return w;
}

double stepFor(double span, int maxTicks) {
  const double raw = span / std::max(1, maxTicks - 1);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * power >= raw * (1 - 1e-9)) return m * power;
  return 10 * power;
}

}  // namespace

std::vector<double> niceTicks(double& lo, double& hi, int maxTicks) {
  if (!std::isfinite(lo) || !std::isfinite(hi)) lo = 0, hi = 1;
  if (hi <= lo) hi = lo + 1;
  const double step = stepFor(hi - lo, maxTicks);
  lo = std::floor(lo / step + 1e-9) * step;
  hi = std::ceil(hi / step - 1e-9) * step;
  std::vector<double> ticks;
  for (double v = lo; v <= hi + step * 1e-6; v += step)
    ticks.push_back(std::fabs(v) < step * 1e-9 ? 0.0 : v);
  return ticks;
}

std::string tickLabel(double v, double step) {
  // Steps of a million and more, or below a millionth, would print dozens
  // of digits (a covariance scree reaching 1e20) or ticks that all read
  // 0.000000: such axes are labelled in powers of ten, with the digits the
  // step needs (5.0e+299, 1.0e+300).
  if (step > 0 && std::isfinite(step) && (step >= 1e6 || step < 1e-6)) {
    if (std::fabs(v) < step * 1e-9) return "0";
    const double power = std::floor(std::log10(step));
    const double digits = std::floor(std::log10(std::fabs(v))) - power;
    const int decimals = std::max(0, static_cast<int>(digits));
    return fmt::format("{:.{}e}", v, decimals);
  }
  int decimals = 0;
  while (decimals < 6 && std::fabs(step * std::pow(10.0, decimals) -
                                   std::round(step * std::pow(10.0, decimals))) > 1e-6)
    ++decimals;
  std::string s = fmt::format("{:.{}f}", v, decimals);
  if (s.find_first_not_of("-0.") == std::string::npos) s = decimals ? fmt::format("{:.{}f}", 0.0, decimals) : "0";
  return s;
}

constexpr double kLegendLine = 18;

Chart::Chart(SvgWriter& svg, Box outer, std::string title, int legendEntries)
    : svg_(svg), outer_(outer), title_(std::move(title)) {
  area_ = {outer.x + kLeftMargin, outer.y + 36, outer.w - kLeftMargin - 20,
           outer.h - 36 - 52 - kLegendLine * legendEntries};
}

void Chart::setRanges(double xlo, double xhi, double ylo, double yhi, bool integerX) {
  // Fewer ticks on narrow axes: the labels must not touch.
  const int yMax = std::clamp(static_cast<int>(area_.h / 32), 2, 11);
  yt_ = niceTicks(ylo, yhi, yMax);
  yStep_ = yt_.size() > 1 ? yt_[1] - yt_[0] : 1;
  // Long tick labels (1.5e+10, 250000) take room from the plot area rather
  // than run into the axis title on their left.
  double widest = 0;
  for (double v : yt_) widest = std::max(widest, labelWidth(tickLabel(v, yStep_)));
  const double shift = std::max(0.0, kAxisTitleRoom + widest + kTick + 3 - kLeftMargin);
  area_.x = outer_.x + kLeftMargin + shift;
  area_.w = outer_.w - kLeftMargin - 20 - shift;
  const int xMax = std::clamp(static_cast<int>(area_.w / 48), 2, 11);
  if (integerX) {
    xStep_ = std::max(1.0, std::ceil((xhi - xlo) / (xMax - 1)));
    xt_.clear();
    for (double v = xlo; v <= xhi + 1e-9; v += xStep_) xt_.push_back(v);
    xlo -= 0.5, xhi += 0.5;
  } else {
    xt_ = niceTicks(xlo, xhi, xMax);
    xStep_ = xt_.size() > 1 ? xt_[1] - xt_[0] : 1;
  }
  x_ = {xlo, xhi, area_.x, area_.x + area_.w};
  y_ = {ylo, yhi, area_.y + area_.h, area_.y};
}

void Chart::xTicks() {
  const double base = area_.y + area_.h;
  for (double v : xt_) {
    const double px = x_.at(v);
    svg_.line({px, base}, {px, base + kTick}, "");
    svg_.text({px, base + kTick + kFont + 1}, tickLabel(v, xStep_), Anchor::Middle, "tick");
  }
}

void Chart::yTicks() {
  for (double v : yt_) {
    const double py = y_.at(v);
    svg_.line({area_.x - kTick, py}, {area_.x, py}, "");
    svg_.text({area_.x - kTick - 3, py + kFont * 0.35}, tickLabel(v, yStep_), Anchor::End, "tick");
  }
}

void Chart::drawFrame(const std::string& xLabel, const std::string& yLabel) {
  if (!title_.empty())
    svg_.text({outer_.x + outer_.w / 2, outer_.y + 20}, title_, Anchor::Middle, "title");
  for (double v : yt_) svg_.line({area_.x, y_.at(v)}, {area_.x + area_.w, y_.at(v)}, "grid");
  svg_.beginGroup("axis");
  yTicks();
  xTicks();
  const double base = area_.y + area_.h;
  svg_.line({area_.x, area_.y}, {area_.x, base}, "");
  svg_.line({area_.x, base}, {area_.x + area_.w, base}, "");
  svg_.endGroup();
  svg_.text({area_.x + area_.w / 2, base + kTick + 2 * kFont + 10}, xLabel, Anchor::Middle,
            "label");
  if (!yLabel.empty())
    svg_.text({outer_.x + 16, area_.y + area_.h / 2}, yLabel, Anchor::Middle, "label", -90);
}

void Chart::drawSeries(const std::vector<Point>& data, const Series& s) {
  std::vector<Point> px;
  for (const Point& d : data)
    if (std::isfinite(d.x) && std::isfinite(d.y)) px.push_back(at(d));
  svg_.polyline(px, s.cls);
  for (const Point& p : px) svg_.marker(p, s.marker, s.cls);
}

// The entries below the x-axis label, one a line, left-aligned under the
// plot area: a marker on a short line, then the text.
void Chart::drawLegend(const std::vector<Series>& series) {
  const double x = area_.x;
  double y = area_.y + area_.h + 52 + kLegendLine - 4;
  svg_.beginGroup("legend");
  for (const Series& s : series) {
    svg_.polyline({{x, y - 4}, {x + 24, y - 4}}, s.cls);
    svg_.marker({x + 12, y - 4}, s.marker, s.cls);
    svg_.text({x + 30, y}, s.label, Anchor::Start, "entry");
    y += kLegendLine;
  }
  svg_.endGroup();
}

}  // namespace zul::output
