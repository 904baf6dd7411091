#include "explain/render.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "explain/xml_check.h"

namespace zel::explain {
namespace {

namespace fs = std::filesystem;

// A late day drawn by hand: 08:00-08:10 tolerated, the rest present, a break, extra work
// with a permission, and a name that needs escaping.
DayExplanation SampleDay(const std::string& date) {
  DayExplanation e;
  e.year = "1399";
  e.person = "1001";
  e.person_name = "رضایی <&> \"علی\"";
  e.date = date;
  e.calculated = true;
  e.settings = {{"LATE_IN", "15"}, {"EARLY_OUT", "0"}};
  e.duty_begin_minute = 480;
  e.duty_end_minute = 960;
  e.break_begin_minute = 720;
  e.break_end_minute = 750;
  e.extra_begin_minute = 360;
  e.extra_end_minute = 1200;
  e.day_begin_minute = -1;
  e.day_end_minute = 1439;
  const struct {
    int b, e, status;
    bool ok;
    const char* cls;
  } rows[] = {{-1, 360, 7, true, "not-counted"},  {360, 480, 7, true, "not-counted"},
              {480, 490, 16, true, "tolerated"},  {490, 720, 6, true, "present"},
              {720, 750, 7, true, "not-counted"}, {750, 960, 6, true, "present"},
              {960, 1050, 14, true, "extra-ok"},  {1050, 1439, 7, true, "not-counted"}};
  for (const auto& r : rows) {
    ExplainStretch s;
    s.begin_minute = r.b;
    s.end_minute = r.e;
    s.minutes = r.e - r.b;
    s.status = r.status;
    s.code = r.status == 16 ? 8 : r.status;
    s.ok = r.ok;
    s.css_class = r.cls;
    auto [name, fa] = StatusName(r.status, r.ok);
    s.status_name = name;
    s.status_fa = fa;
    if (r.status == 14) s.sheet = "21";
    s.classified = {"rule <with> & marks", "LATE_IN 15"};
    e.stretches.push_back(s);
  }
  e.totals = {
      {"WorkTotal", 450, true, {{"stretch 3", 10}, {"stretch 4", 230}, {"stretch 6", 210}}, 450},
      {"ExtraWorkTotal", 90, true, {{"stretch 7", 90}}, 90},
      {"NonWorkTotal", 0, true, {}, 0}};
  return e;
}

// Reads an 8-bit RGB or RGBA PNG into rows of pixels (RGBA), undoing the row filters.
struct Image {
  uint32_t width = 0, height = 0;
  std::vector<uint32_t> pixels;  // RGBA packed
};

uint32_t Big32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

Image ReadPng(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Image image;
  if (bytes.size() < 8 || bytes.compare(1, 3, "PNG") != 0) return image;
  std::vector<unsigned char> idat;
  int depth = 0, colour = 0;
  for (size_t at = 8; at + 12 <= bytes.size();) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    const uint32_t length = Big32(p);
    const std::string type = bytes.substr(at + 4, 4);
    const auto* data = p + 8;
    if (type == "IHDR") {
      image.width = Big32(data);
      image.height = Big32(data + 4);
      depth = data[8];
      colour = data[9];
    } else if (type == "IDAT") {
      idat.insert(idat.end(), data, data + length);
    }
    at += 12 + length;
  }
  const int channels = colour == 6 ? 4 : colour == 2 ? 3 : 0;
  if (depth != 8 || channels == 0) return image;
  const size_t stride = size_t{image.width} * channels;
  std::vector<unsigned char> raw((stride + 1) * image.height);
  uLongf raw_size = raw.size();
  if (uncompress(raw.data(), &raw_size, idat.data(), idat.size()) != Z_OK) return Image{};
  std::vector<unsigned char> previous(stride, 0), row(stride);
  for (uint32_t y = 0; y < image.height; ++y) {
    const unsigned char filter = raw[y * (stride + 1)];
    const unsigned char* line = &raw[y * (stride + 1) + 1];
    for (size_t i = 0; i < stride; ++i) {
      const int a = i >= static_cast<size_t>(channels) ? row[i - channels] : 0;
      const int b = previous[i];
      const int c = i >= static_cast<size_t>(channels) ? previous[i - channels] : 0;
      int predicted = 0;
      switch (filter) {
        case 1:
          predicted = a;
          break;
        case 2:
          predicted = b;
          break;
        case 3:
          predicted = (a + b) / 2;
          break;
        case 4: {
          const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
          predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
          break;
        }
        default:
          break;
      }
      row[i] = static_cast<unsigned char>(line[i] + predicted);
    }
    for (uint32_t x = 0; x < image.width; ++x) {
      const unsigned char* px = &row[x * channels];
      image.pixels.push_back((uint32_t{px[0]} << 24) | (uint32_t{px[1]} << 16) |
                             (uint32_t{px[2]} << 8) | (channels == 4 ? px[3] : 255u));
    }
    previous = row;
  }
  return image;
}

TEST(ExplainRender, SvgIsWellFormedXmlWithRightToLeftPersianLabels) {
  for (const auto& days : {std::vector<DayExplanation>{SampleDay("02/02")},
                           std::vector<DayExplanation>{SampleDay("02/02"), SampleDay("02/03")}}) {
    const std::string svg = RenderSvg(days, {{"WorkTotal", 900}});
    const std::string error = CheckWellFormedXml(svg);
    EXPECT_EQ(error, "") << svg.substr(0, 400);
    EXPECT_NE(svg.find("direction=\"rtl\""), std::string::npos);
    if (days.size() == 2) {  // the month's stored totals under the rows
      EXPECT_NE(svg.find("جمع ماه (MahWork)"), std::string::npos);
      EXPECT_NE(svg.find(">15:00<"), std::string::npos);
    }
    if (days.size() == 1) {  // a day names its tolerances and permissions; a month has titles
      EXPECT_NE(svg.find("تأخیر مجاز (LATE_IN 15)"), std::string::npos);
      EXPECT_NE(svg.find("اضافه‌کار مجاز، برگ 21"), std::string::npos);
    }
    EXPECT_NE(svg.find("رضایی &lt;&amp;&gt; &quot;علی&quot;"), std::string::npos);
    EXPECT_EQ(svg.find("<with>"), std::string::npos);  // escaped in the titles
    EXPECT_EQ(svg.find("href"), std::string::npos);    // self-contained
  }
}

TEST(ExplainRender, WellFormednessCheckFindsBrokenXml) {
  const struct {
    const char* text;
    bool good;
  } cases[] = {
      {"<?xml version=\"1.0\"?><a x=\"1\"><b/>t&amp;x</a>", true},
      {"<a><b></a></b>", false},
      {"<a x=1></a>", false},
      {"<a>x & y</a>", false},
      {"<a>x</a><b/>", false},
      {"<a><!-- note --></a>", true},
      {"<a>", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CheckWellFormedXml(c.text).empty(), c.good) << c.text;
  }
}

TEST(ExplainRender, SvgRendersToAPictureThatIsNotBlank) {
  // scripts/setup.sh installs it with the other build packages.
  ASSERT_EQ(std::system("command -v rsvg-convert >/dev/null 2>&1"), 0)
      << "rsvg-convert (Debian package librsvg2-bin) is not installed: run scripts/setup.sh";
  const fs::path dir = fs::temp_directory_path() / ("zel_explain_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "day.svg") << RenderSvg({SampleDay("02/02"), SampleDay("02/03")});
  const std::string command =
      "rsvg-convert -o '" + (dir / "day.png").string() + "' '" + (dir / "day.svg").string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const Image image = ReadPng(dir / "day.png");
  fs::remove_all(dir);
  ASSERT_EQ(image.width, 1200u);
  ASSERT_GT(image.height, 100u);
  std::set<uint32_t> colours(image.pixels.begin(), image.pixels.end());
  size_t not_white = 0;
  for (uint32_t p : image.pixels) not_white += p != 0xffffffffu;
  EXPECT_GT(colours.size(), 10u);
  EXPECT_GT(not_white, image.pixels.size() / 50);  // more than 2% of the picture is drawn
  // The stretch colours are there: present (green) and extra work with permission (blue).
  EXPECT_TRUE(colours.count(0x43a047ffu));
  EXPECT_TRUE(colours.count(0x1e88e5ffu));
}

TEST(ExplainRender, JsonEscapesAndTextNamesTheRule) {
  const std::vector<DayExplanation> days{SampleDay("02/02")};
  const std::string json = RenderJson(days);
  EXPECT_NE(json.find("\"person_name\":\"رضایی <&> \\\"علی\\\"\""), std::string::npos);
  EXPECT_NE(json.find("\"status_name\":\"late within tolerance\""), std::string::npos);
  EXPECT_EQ(JsonEscape("a\nb\x01"), "a\\nb\\u0001");
  const std::string text = RenderText(days);
  EXPECT_NE(text.find("late within tolerance (تأخیر مجاز)"), std::string::npos);
  EXPECT_NE(
      text.find("WorkTotal       450    = 10 (stretch 3) + 230 (stretch 4) + 210 (stretch 6)"),
      std::string::npos)
      << text;
  EXPECT_NE(RenderText(days, {{"WorkTotal", 900}}).find("Month totals (MahWork): WorkTotal 900;"),
            std::string::npos);
  EXPECT_EQ(HoursMinutes(450), "7:30");
  EXPECT_EQ(HoursMinutes(-5), "-0:05");
}

}  // namespace
}  // namespace zel::explain
