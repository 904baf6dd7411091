// The explanation as a self-contained SVG picture: one row per day on a shared time axis,
// the extra span and the duty window with its break, the stretches coloured by class with
// Persian labels (right-to-left), the day's totals beside each row and a legend.
#include <algorithm>
#include <cstdio>
#include <sstream>

#include "explain/render.h"

namespace zel::explain {

namespace {

struct ClassStyle {
  const char* name;
  const char* colour;
  const char* fa;
};

constexpr ClassStyle kClasses[] = {
    {"present", "#43a047", "حضور"},
    {"extra-ok", "#1e88e5", "اضافه‌کار مجاز"},
    {"extra", "#90caf9", "اضافه‌کار غیرمجاز"},
    {"tolerated", "#fdd835", "تأخیر یا تعجیل مجاز"},
    {"late", "#fb8c00", "تأخیر یا تعجیل غیرمجاز"},
    {"absent", "#e53935", "غیبت"},
    {"leave", "#8e24aa", "مرخصی"},
    {"mission", "#00897b", "مأموریت"},
    {"service", "#c0ca33", "تأخیر سرویس"},
    {"not-counted", "#e0e0e0", "خارج از وقت کاری"},
    {"suspended", "#616161", "تعلیق"},
};

const char* ColourOf(const std::string& css_class) {
  for (const ClassStyle& c : kClasses) {
    if (css_class == c.name) return c.colour;
  }
  return "#bdbdbd";
}

// A Persian text, right-to-left, its right end at x (text-anchor start in rtl).
std::string FaText(double x, double y, const std::string& text, int size,
                   const char* anchor = "start", const char* colour = "#212121") {
  std::ostringstream o;
  o << "<text x=\"" << x << "\" y=\"" << y << "\" font-size=\"" << size
    << "\" direction=\"rtl\" unicode-bidi=\"embed\" xml:lang=\"fa\" text-anchor=\"" << anchor
    << "\" fill=\"" << colour << "\">" << XmlEscape(text) << "</text>\n";
  return o.str();
}

std::string LtrText(double x, double y, const std::string& text, int size,
                    const char* anchor = "start", const char* colour = "#212121") {
  std::ostringstream o;
  o << "<text x=\"" << x << "\" y=\"" << y << "\" font-size=\"" << size << "\" text-anchor=\""
    << anchor << "\" fill=\"" << colour << "\">" << XmlEscape(text) << "</text>\n";
  return o.str();
}

int64_t TotalOf(const DayExplanation& e, const char* column) {
  for (const ExplainTotal& t : e.totals) {
    if (t.column == column) return t.value;
  }
  return 0;
}

// The label of a stretch: its status in Persian, the permission sheet, the tolerance.
std::string StretchLabel(const ExplainStretch& s, const DayExplanation& e) {
  std::string label = s.status_fa;
  using enum engine::PresenceCode;
  const engine::PresenceCode code = engine::PresenceCodeFrom(s.code);
  if (!s.sheet.empty() &&
      (code == kLeave || code == kMission || code == kExtraWork || code == kServiceLate)) {
    label += "، برگ " + s.sheet;
  }
  auto setting = [&e](const char* name) {
    for (const auto& [key, value] : e.settings) {
      if (key == name) return value;
    }
    return std::string();
  };
  if (s.status == 16) label += " (LATE_IN " + setting("LATE_IN") + ")";
  if (s.status == 17) label += " (EARLY_OUT " + setting("EARLY_OUT") + ")";
  return label;
}

std::string Clock(int minute) {
  int m = ((minute % 1440) + 1440) % 1440;
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d", m / 60, m % 60);
  return buffer;
}

}  // namespace

std::string XmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        // Control characters are not allowed in XML 1.0 text.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') {
          out += ' ';
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string RenderSvg(const std::vector<DayExplanation>& days,
                      const std::vector<ColumnAmount>& month_totals) {
  const bool single = days.size() == 1;
  const double width = 1200, left = 90, right = 250;
  const double plot_left = left, plot_right = width - right;
  const double row_height = single ? 120 : 30, bar_height = single ? 30 : 16;
  const double top = 92;

  // The time axis: from the earliest stretch to the latest, in whole hours.
  int lo = 0, hi = 1440;
  bool any = false;
  for (const DayExplanation& e : days) {
    for (const ExplainStretch& s : e.stretches) {
      lo = any ? std::min(lo, s.begin_minute) : s.begin_minute;
      hi = any ? std::max(hi, s.end_minute) : std::max(1440, s.end_minute);
      any = true;
    }
  }
  lo = std::max(-720, std::min(lo, 0));
  hi = std::min(2160, std::max(hi, 1440));
  lo = (lo - 59) / 60 * 60;
  hi = (hi + 59) / 60 * 60;
  const double scale = (plot_right - plot_left) / (hi - lo);
  auto X = [&](int minute) { return plot_left + (std::clamp(minute, lo, hi) - lo) * scale; };

  const double rows_bottom = top + row_height * static_cast<double>(days.size());
  const double height = rows_bottom + 40 + 30 + 30 * ((std::size(kClasses) + 5) / 6) + 20;
  std::ostringstream o;
  o << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
    << "\" viewBox=\"0 0 " << width << " " << height
    << "\" font-family=\"Vazirmatn, 'DejaVu Sans', Tahoma, sans-serif\">\n";
  o << "<defs><pattern id=\"break\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\" "
       "patternTransform=\"rotate(45)\"><rect width=\"3\" height=\"6\" fill=\"#ffffff\" "
       "fill-opacity=\"0.55\"/></pattern></defs>\n";
  o << "<rect x=\"0\" y=\"0\" width=\"" << width << "\" height=\"" << height
    << "\" fill=\"#ffffff\"/>\n";

  // Title, right to left.
  if (!days.empty()) {
    const DayExplanation& d = days.front();
    std::string when = d.year + "/" + d.date;
    if (!single) when = d.year + "/" + d.date.substr(0, 2);
    o << FaText(width - 20, 28,
                "چرا روز این‌گونه محاسبه شد؟ " + d.person_name + " (" +
                    d.person + ") " + when,
                18);
    o << FaText(width - 20, 50,
                "کارکرد، اضافه‌کار و کسرکار هر روز در ستون راست؛ رنگ‌ها "
                "در "
                "راهنمای "
                "پایین",
                12, "start", "#616161");
  }

  // Time axis with hour ticks.
  const int step = (hi - lo) > 30 * 60 ? 120 : 60;
  for (int m = lo; m <= hi; m += step) {
    const double x = X(m);
    o << "<line x1=\"" << x << "\" y1=\"" << top - 8 << "\" x2=\"" << x << "\" y2=\"" << rows_bottom
      << "\" stroke=\"#eeeeee\" stroke-width=\"1\"/>\n";
    o << LtrText(x, top - 12,
                 (m < 0       ? "-"
                  : m >= 1440 ? "+"
                              : "") +
                     Clock(m).substr(0, 2),
                 10, "middle", "#757575");
  }
  o << FaText(plot_right + 220, top - 12, "کارکرد", 11, "start", "#424242");
  o << FaText(plot_right + 150, top - 12, "اضافه‌کار", 11, "start", "#424242");
  o << FaText(plot_right + 80, top - 12, "کسرکار", 11, "start", "#424242");

  int64_t sum_work = 0, sum_extra = 0, sum_non = 0;
  for (size_t r = 0; r < days.size(); ++r) {
    const DayExplanation& e = days[r];
    const double y = top + row_height * static_cast<double>(r);
    const double bar_y = single ? y + 16 : y + (row_height - bar_height) / 2;
    o << "<g>\n" << LtrText(10, bar_y + bar_height / 2 + 4, e.date, 12);
    if (!e.not_calculated.empty() || (e.stretches.empty() && e.failed())) {
      const std::string why =
          !e.not_calculated.empty()
              ? "محاسبه نمی‌شود: خارج از دوره استخدام"
              : "خطا: " + e.error_message;
      o << FaText(plot_right - 4, bar_y + bar_height / 2 + 4, why, 11, "start", "#b71c1c");
      o << "</g>\n";
      continue;
    }
    int below = 0;  // labels put under the bar so far
    // The extra span as a thin line above the bar.
    o << "<rect x=\"" << X(e.extra_begin_minute) << "\" y=\"" << bar_y - 5 << "\" width=\""
      << std::max(0.0, X(e.extra_end_minute) - X(e.extra_begin_minute))
      << "\" height=\"3\" fill=\"#9e9e9e\"><title>extra span " << XmlEscape(e.extra_begin) << " - "
      << XmlEscape(e.extra_end) << "</title></rect>\n";
    for (size_t i = 0; i < e.stretches.size(); ++i) {
      const ExplainStretch& s = e.stretches[i];
      const double x = X(s.begin_minute), w = std::max(0.0, X(s.end_minute) - X(s.begin_minute));
      if (w <= 0) continue;
      o << "<rect class=\"" << s.css_class << "\" x=\"" << x << "\" y=\"" << bar_y << "\" width=\""
        << w << "\" height=\"" << bar_height << "\" fill=\"" << ColourOf(s.css_class)
        << "\" stroke=\"#ffffff\" stroke-width=\"0.5\"><title>"
        << XmlEscape(s.begin + " - " + s.end + ": " + s.status_name + " -- " + s.classified.rule +
                     (s.reclassified ? "; " + s.reclassified->rule + " " + s.reclassified->setting
                                     : std::string()) +
                     (s.classified.setting.empty() ? "" : "; " + s.classified.setting))
        << "</title></rect>\n";
      const std::string label = StretchLabel(s, e);
      if (single && s.css_class != "not-counted" && s.css_class != "present" && w < 70) {
        // A narrow stretch of interest is named under the bar, on one of three lines.
        const double ly = bar_y + bar_height + 18 + 18 * static_cast<double>(below++ % 3);
        o << "<line x1=\"" << x + w / 2 << "\" y1=\"" << bar_y + bar_height << "\" x2=\""
          << x + w / 2 << "\" y2=\"" << ly - 10 << "\" stroke=\"#757575\" stroke-width=\"0.7\"/>\n";
        o << FaText(x + w / 2 + 40, ly, label, 10);
      }
      if (s.css_class != "not-counted" && w >= (single ? 70 : 90)) {
        o << FaText(x + w - 3, bar_y + bar_height / 2 + 4, label, single ? 11 : 9, "start",
                    s.css_class == "extra-ok" || s.css_class == "leave" ||
                            s.css_class == "mission" || s.css_class == "suspended" ||
                            s.css_class == "absent" || s.css_class == "present"
                        ? "#ffffff"
                        : "#212121");
      }
    }
    // The duty window and its break over the stretches.
    if (e.duty_end_minute > e.duty_begin_minute) {
      o << "<rect x=\"" << X(e.duty_begin_minute) << "\" y=\"" << bar_y - 1 << "\" width=\""
        << X(e.duty_end_minute) - X(e.duty_begin_minute) << "\" height=\"" << bar_height + 2
        << "\" fill=\"none\" stroke=\"#212121\" stroke-width=\"1.5\"><title>duty "
        << XmlEscape(e.duty_begin) << " - " << XmlEscape(e.duty_end) << "</title></rect>\n";
    }
    if (e.break_end_minute > e.break_begin_minute) {
      o << "<rect x=\"" << X(e.break_begin_minute) << "\" y=\"" << bar_y << "\" width=\""
        << X(e.break_end_minute) - X(e.break_begin_minute) << "\" height=\"" << bar_height
        << "\" fill=\"url(#break)\"><title>break " << XmlEscape(e.break_begin) << " - "
        << XmlEscape(e.break_end) << "</title></rect>\n";
    }
    if (e.failed()) {
      o << FaText(plot_right - 4, bar_y - 2, "خطا: " + e.error_message, 9, "start", "#b71c1c");
    }
    const int64_t work = TotalOf(e, "WorkTotal"), extra = TotalOf(e, "ExtraWorkTotal"),
                  non = TotalOf(e, "NonWorkTotal");
    sum_work += work;
    sum_extra += extra;
    sum_non += non;
    const double ty = bar_y + bar_height / 2 + 4;
    o << LtrText(plot_right + 220, ty, HoursMinutes(work), 11, "end");
    o << LtrText(plot_right + 150, ty, HoursMinutes(extra), 11, "end");
    o << LtrText(plot_right + 80, ty, HoursMinutes(non), 11, "end");
    if (e.holiday != 0) o << FaText(plot_left - 4, ty, "تعطیل", 9, "start", "#1565c0");
    o << "</g>\n";
  }

  // The month's totals (as stored, else the sum of the days).
  double y = rows_bottom + 28;
  if (!single) {
    int64_t work = sum_work, extra = sum_extra, non = sum_non;
    std::string caption = "جمع روزها";
    if (!month_totals.empty()) {
      caption = "جمع ماه (MahWork)";
      for (const ColumnAmount& a : month_totals) {
        if (a.column == "WorkTotal") work = a.amount;
        if (a.column == "ExtraWorkTotal") extra = a.amount;
        if (a.column == "NonWorkTotal") non = a.amount;
      }
    }
    o << "<line x1=\"" << plot_right + 10 << "\" y1=\"" << rows_bottom + 8 << "\" x2=\""
      << width - 10 << "\" y2=\"" << rows_bottom + 8 << "\" stroke=\"#424242\"/>\n";
    o << FaText(plot_right - 4, y, caption, 12, "start", "#212121");
    o << LtrText(plot_right + 220, y, HoursMinutes(work), 12, "end");
    o << LtrText(plot_right + 150, y, HoursMinutes(extra), 12, "end");
    o << LtrText(plot_right + 80, y, HoursMinutes(non), 12, "end");
  }

  // Legend, right to left.
  y += 30;
  double x = width - 20;
  int in_line = 0;
  o << "<g>\n";
  for (const ClassStyle& c : kClasses) {
    if (in_line == 6) {
      in_line = 0;
      x = width - 20;
      y += 30;
    }
    o << "<rect x=\"" << x - 14 << "\" y=\"" << y - 11 << "\" width=\"14\" height=\"14\" fill=\""
      << c.colour << "\" stroke=\"#9e9e9e\" stroke-width=\"0.5\"/>\n";
    o << FaText(x - 20, y, c.fa, 11);
    x -= 180;
    ++in_line;
  }
  o << "<rect x=\"" << x - 14 << "\" y=\"" << y - 11
    << "\" width=\"14\" height=\"14\" fill=\"none\" stroke=\"#212121\" stroke-width=\"1.5\"/>\n";
  o << FaText(x - 20, y, "وقت کاری (خط‌دار: استراحت)", 11);
  o << "</g>\n</svg>\n";
  return o.str();
}

}  // namespace zel::explain
