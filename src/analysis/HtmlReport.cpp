// The report as a web page an operator can publish. Every text in it that a log or a path brought
// was typed by a stranger: each is escaped where it stands, none is ever put inside the style or
// the script, and the page's Content-Security-Policy lets only its own style and script (by their
// hashes) apply, so even a missed escape could not run anything. Nothing is fetched.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>

#include "analysis/Report.h"
#include "analysis/Sha256.h"
#include "analysis/SharedRoot.h"
#include "analysis/TableCells.h"
#include "logs/TextEncoding.h"

namespace quorvane {

namespace {

constexpr std::string_view kStyle = R"CSS(
:root{color-scheme:light dark;--bg:#f6f7f9;--card:#fff;--text:#1d2330;--muted:#5d6676;--line:#dfe3ea;--head:#eef1f5;--down:#2f6fd6;--up:#e08a1e;--leech:#fdecec;--leech-text:#9b1c1c;--accent:#2f6fd6}
@media (prefers-color-scheme:dark){:root{--bg:#12151b;--card:#1b2029;--text:#e6e9ef;--muted:#9aa3b2;--line:#2c3340;--head:#232a35;--down:#6ea2ff;--up:#f2a64a;--leech:#3a1f24;--leech-text:#ffb4b4;--accent:#6ea2ff}}
*{box-sizing:border-box}
body{margin:0;background:var(--bg);color:var(--text);font:15px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,"DejaVu Sans",sans-serif}
header,main,footer{max-width:1180px;margin:0 auto;padding:0 24px}
header{padding-top:28px}
h1{font-size:26px;margin:0 0 4px}
h2{font-size:18px;margin:0 0 12px}
.sub,.note,footer{color:var(--muted)}
.sub{margin:0}
section{background:var(--card);border:1px solid var(--line);border-radius:10px;padding:18px 20px;margin:20px 0}
.figures{display:grid;grid-template-columns:repeat(auto-fit,minmax(150px,1fr));gap:12px;margin:0}
.figures div{border-left:3px solid var(--accent);padding:2px 0 2px 10px}
.figures dt{color:var(--muted);font-size:13px}
.figures dd{margin:0;font-size:22px;font-weight:600;font-variant-numeric:tabular-nums}
.legend{display:flex;gap:18px;margin:0 0 6px;color:var(--muted);font-size:13px}
.swatch{display:inline-block;width:11px;height:11px;border-radius:2px;margin-right:6px;vertical-align:-1px}
.d{fill:var(--down);background:var(--down)}
.u{fill:var(--up);background:var(--up)}
.chart{display:flex;padding-right:36px}
.chart svg{display:block;flex:none;overflow:visible}
.chart .bars{flex:1;min-width:0}
svg text{fill:var(--muted);font-size:12px}
svg .grid{stroke:var(--line);stroke-width:1}
svg g:hover rect{opacity:.75}
.scroll{overflow:auto;max-height:75vh;border:1px solid var(--line);border-radius:8px}
table{border-collapse:collapse;width:100%;font-variant-numeric:tabular-nums}
th,td{padding:5px 10px;text-align:left;border-bottom:1px solid var(--line);vertical-align:top}
td{white-space:nowrap}
td.w{white-space:pre-wrap;overflow-wrap:anywhere;min-width:9em;max-width:30em}
td.w:first-child{min-width:18em}
th{position:sticky;top:0;background:var(--head);font-weight:600;font-size:13px;white-space:nowrap}
th button{all:unset;cursor:pointer}
th button:focus-visible{outline:2px solid var(--accent);outline-offset:2px}
th[aria-sort=ascending] button::after{content:" \25B2"}
th[aria-sort=descending] button::after{content:" \25BC"}
.n{text-align:right}
tbody tr:hover{background:var(--head)}
tr.leech{background:var(--leech)}
tr.leech td:first-child{color:var(--leech-text);font-weight:600}
footer{padding-bottom:28px;font-size:13px}
@media (max-width:600px){header,main,footer{padding:0 10px}header{padding-top:16px}h1{font-size:21px}
section{padding:12px;margin:12px 0}.figures{grid-template-columns:repeat(2,minmax(0,1fr))}.figures dd{font-size:18px}
th,td{padding:5px 8px}td.w{min-width:7em;max-width:16em}td.w:first-child{min-width:9em}svg text{font-size:11px}svg text.alt{display:none}}
@media print{:root{--bg:#fff;--card:#fff;--text:#000;--muted:#333;--line:#bbb;--head:#eee;--leech:#f3f3f3;--leech-text:#000}
body{font-size:11px}section{border:0;padding:0;break-inside:auto}.scroll{overflow:visible;max-height:none;border:0}
th{position:static}thead{display:table-header-group}tr{break-inside:avoid}tr.leech td:first-child::after{content:" (leech)"}}
)CSS";

// Sorts a table by the column whose header is clicked: counts by value, other columns by text;
// again reverses. Headers become buttons, so the keyboard sorts too.
constexpr std::string_view kScript = R"JS(
"use strict";
document.querySelectorAll("table.sortable").forEach(function (table) {
  var heads = table.tHead.rows[0].cells;
  Array.prototype.forEach.call(heads, function (th, column) {
    var button = document.createElement("button");
    button.type = "button";
    button.textContent = th.textContent;
    th.textContent = "";
    th.appendChild(button);
    button.addEventListener("click", function () {
      var number = th.classList.contains("n");
      var was = th.getAttribute("aria-sort");
      var descending = was ? was === "ascending" : number;
      Array.prototype.forEach.call(heads, function (h) { h.removeAttribute("aria-sort"); });
      th.setAttribute("aria-sort", descending ? "descending" : "ascending");
      var body = table.tBodies[0];
      var keyed = Array.prototype.map.call(body.rows, function (row, index) {
        var cell = row.cells[column];
        var key = cell.hasAttribute("data-k") ? cell.getAttribute("data-k") : cell.textContent;
        return { row: row, key: number ? Number(key) : key, index: index };
      });
      keyed.sort(function (a, b) {
        var c = a.key < b.key ? -1 : a.key > b.key ? 1 : 0;
        return (descending ? -c : c) || a.index - b.index;
      });
      var rows = document.createDocumentFragment();
      keyed.forEach(function (k) { rows.appendChild(k.row); });
      body.appendChild(rows);
    });
  });
});
)JS";

std::string CspHash(std::string_view text) {
  const std::array<std::uint8_t, 32> digest = Sha256(text);
  return "'sha256-" + Base64(digest.data(), digest.size()) + "'";
}

// Text for element content or a quoted attribute: markup characters as references, bytes that
// are not UTF-8 as U+FFFD, and the controls the parser would drop or change (CR, NUL and the
// like) as references, so the page holds the text as the CSV does.
void AppendEscaped(std::string& out, std::string_view text) {
  const bool plain = std::none_of(text.begin(), text.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return (b < 0x20 && c != '\t' && c != '\n') || b == 0x7F || c == '&' || c == '<' || c == '>' ||
           c == '"' || c == '\'';
  });
  if (plain && IsValidUtf8(text)) {
    out.append(text);
    return;
  }
  for (char32_t c : Utf8ToCodePoints(text)) {
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
        out += "&#39;";
        break;
      default:
        if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F)
          out.append("&#").append(std::to_string(c == 0 ? 0xFFFD : c)).push_back(';');
        else
          AppendUtf8(out, c);
    }
  }
}

std::string Escaped(std::string_view text) {
  std::string out;
  AppendEscaped(out, text);
  return out;
}

std::string Grouped(std::size_t value) {
  const std::string digits = std::to_string(value);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0)
      out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

// The last part of a path as given, whatever the separator: the page names files, not folders.
std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DescribeDays(const Report& report) {
  if (report.period) {
    return "Period " + DescribePeriod(*report.period) + " (" + Grouped(report.undatedLeftOut) +
           " undated rows left out)";
  }
  if (report.datedDays)
    return "From " + DescribePeriod(*report.datedDays);
  return "No dated transfers";
}

// A bar's label: its first day as the step shows it.
std::string BarLabel(ActivityStep step, std::int64_t day) {
  const std::string text = FormatDay(day);
  switch (step) {
    case ActivityStep::Month:
      return text.substr(0, 7);
    case ActivityStep::Year:
      return text.substr(0, 4);
    default:
      return text;
  }
}

// The smallest 1, 2 or 5 times a power of ten that is at least `value` / 4, times 4.
std::size_t ScaleTop(std::size_t value) {
  std::size_t step = 1;
  for (std::size_t power = 1;; power *= 10) {
    for (std::size_t m : {1, 2, 5}) {
      step = m * power;
      if (step * 4 >= value)
        return step * 4;
    }
  }
}

// A share of the plot's width, given in thousandths of a percent, as CSS reads it whatever the
// locale: "12.345%".
std::string Percent(long thousandths) {
  std::string text = std::to_string(thousandths / 1000) + ".";
  const std::string fraction = std::to_string(thousandths % 1000 + 1000);
  return text.append(fraction, 1, 3).append("%");
}

// The chart as two pictures side by side: the scale, as wide as its longest number, and the
// bars, stretched to the width left. Heights and texts are in pixels and across is in percent,
// so the labels keep their size on a phone as on a desk; every other date label gives way on a
// narrow screen (class "alt").
void AppendChart(std::string& out, const Activity& activity) {
  static constexpr char kSteps[][6] = {"day", "week", "month", "year"};
  const std::string_view step = kSteps[static_cast<int>(activity.step)];
  out.append("<section id=\"activity\">\n<h2>Activity per ").append(step).append("</h2>\n");
  if (activity.bars.empty()) {
    out += "<p class=\"note\">No dated transfers to chart.</p>\n</section>\n";
    return;
  }
  out +=
      "<p class=\"legend\"><span><span class=\"swatch d\"></span>Downloads</span>"
      "<span><span class=\"swatch u\"></span>Uploads</span></p>\n";
  std::size_t most = 1;
  for (const ActivityBar& bar : activity.bars)
    most = std::max({most, bar.downloads, bar.uploads});
  const std::size_t top = ScaleTop(most);
  constexpr long kTop = 8, kBottom = 216, kHeight = 240, kWidth = 100000;
  const auto y = [&](std::size_t value) {
    return kBottom - static_cast<long>(value * (kBottom - kTop) / top);
  };
  const std::string height = std::to_string(kHeight);
  // About 7 pixels a digit at the page's 12-pixel labels, and half a date label at least: the
  // first date reaches under the scale, as the last reaches into the room kept beside the bars.
  const std::size_t scaleWidth = std::max<std::size_t>(40, 12 + 7 * Grouped(top).size());
  out.append("<div class=\"chart\"><svg class=\"scale\" width=\"")
      .append(std::to_string(scaleWidth))
      .append("\" height=\"")
      .append(height)
      .append("\" aria-hidden=\"true\">\n");
  std::string grid;
  for (std::size_t tick = 0; tick <= 4; ++tick) {
    const std::string at = std::to_string(y(top / 4 * tick));
    out.append("<text x=\"").append(std::to_string(scaleWidth - 6)).append("\" y=\"").append(at);
    out.append("\" dy=\"4\" text-anchor=\"end\">").append(Grouped(top / 4 * tick));
    out += "</text>\n";
    grid.append("<line class=\"grid\" x1=\"0\" x2=\"100%\" y1=\"").append(at);
    grid.append("\" y2=\"").append(at).append("\"/>\n");
  }
  out.append("</svg><svg class=\"bars\" height=\"")
      .append(height)
      .append("\" role=\"img\" aria-label=\"Downloads and uploads per ")
      .append(step)
      .append("\">\n")
      .append(grid);
  const long count = static_cast<long>(activity.bars.size());
  const long slot = kWidth / count;
  const long bar = std::max(1L, slot * 2 / 5);
  const long labelEvery = std::max(1L, (count + 7) / 8);
  for (long i = 0; i < count; ++i) {
    const ActivityBar& b = activity.bars[static_cast<std::size_t>(i)];
    const long x = i * slot + (slot - 2 * bar) / 2;
    const std::int64_t last = LastDayOfBar(activity.step, b.firstDay);
    out.append("<g><title>").append(FormatDay(b.firstDay));
    if (last != b.firstDay)
      out.append(" to ").append(FormatDay(last));
    out.append(": ")
        .append(Grouped(b.downloads))
        .append(b.downloads == 1 ? " download, " : " downloads, ");
    out.append(Grouped(b.uploads)).append(b.uploads == 1 ? " upload</title>" : " uploads</title>");
    for (const auto& [value, cls, left] :
         {std::tuple{b.downloads, "d", x}, std::tuple{b.uploads, "u", x + bar}}) {
      out.append("<rect class=\"").append(cls).append("\" x=\"").append(Percent(left));
      out.append("\" y=\"").append(std::to_string(y(value))).append("\" width=\"");
      out.append(Percent(bar)).append("\" height=\"");
      out.append(std::to_string(kBottom - y(value))).append("\"/>");
    }
    out += "</g>\n";
    if (i % labelEvery != 0)
      continue;
    out.append(i / labelEvery % 2 ? "<text class=\"alt\" x=\"" : "<text x=\"");
    out.append(Percent(i * slot + slot / 2)).append("\" y=\"");
    out.append(std::to_string(kHeight - 6)).append("\" text-anchor=\"middle\">");
    out.append(BarLabel(activity.step, b.firstDay)).append("</text>\n");
  }
  out += "</svg></div>\n</section>\n";
}

// The ratio's sort key: downloads per upload in millionths; no uploads sorts above every ratio.
std::string RatioKey(const UserCounts& user) {
  if (user.uploads == 0)
    return user.downloads == 0 ? "0" : "Infinity";
  return std::to_string(user.downloads * 1000000 / user.uploads);
}

// One sortable table: a heading in words per column of the CSV, a row of the CSV's cells per
// item, its first cell relative to `root`. The users' ratio sorts by its value, kept beside the
// text.
template <typename Items, std::size_t N, typename RowStart>
void AppendTable(std::string& out, std::string_view id, const detail::TableColumn (&columns)[N],
                 const Items& items, std::string_view root, RowStart rowStart) {
  using detail::CellKind;
  static constexpr std::string_view kCellStart[] = {"<td class=\"w\">", "<td class=\"n\">",
                                                    "<td class=\"n\" data-k=\"", "<td>"};
  out.append("<div class=\"scroll\"><table class=\"sortable\" id=\"").append(id);
  out += "\">\n<thead><tr>";
  for (const detail::TableColumn& column : columns) {
    const bool byValue = column.kind == CellKind::Count || column.kind == CellKind::Ratio;
    out.append(byValue ? "<th scope=\"col\" class=\"n\">" : "<th scope=\"col\">");
    out.append(column.heading).append("</th>");
  }
  out += "</tr></thead>\n<tbody>\n";
  for (const auto& item : items) {
    rowStart(item);
    std::size_t column = 0;
    detail::CellsOf(item, [&](std::string_view cell) {
      const CellKind kind = columns[column++].kind;
      out.append(kCellStart[static_cast<int>(kind)]);
      if constexpr (std::is_base_of_v<UserCounts, std::decay_t<decltype(item)>>) {
        if (kind == CellKind::Ratio)
          out.append(RatioKey(item)).append("\">");
      }
      AppendEscaped(out, column == 1 ? RelativeTo(root, cell) : cell);
      out.append("</td>");
    });
    out += "</tr>\n";
  }
  out += "</tbody>\n</table></div>\n";
}

}  // namespace

std::string FormatHtmlReport(const Report& report, const ReportRequest& request) {
  std::string out;
  std::size_t size = 16384;
  if (report.figures) {
    for (const UserFigures& user : *report.figures)
      size += user.name.size() + 240;
  }
  if (report.files) {
    for (const FileFigures& file : report.files->files)
      size += file.File().size() + file.firstUploader.size() + 220;
  }
  out.reserve(size);

  const std::string days = DescribeDays(report);
  out += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  out.append("<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; ")
      .append("style-src ")
      .append(CspHash(kStyle))
      .append("; script-src ")
      .append(CspHash(kScript))
      .append("; base-uri 'none'; form-action 'none'\">\n");
  out +=
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta name=\"color-scheme\" content=\"light dark\">\n"
      "<meta name=\"generator\" content=\"Quorvane\">\n";
  out.append("<title>Transfers: ").append(days).append("</title>\n");
  out.append("<style>").append(kStyle).append("</style>\n</head>\n<body>\n");

  out += "<header>\n<h1>Who downloads and who uploads</h1>\n<p class=\"sub\">";
  out.append(days).append(". Read from ");
  for (std::size_t i = 0; i < request.logNames.size(); ++i) {
    if (i != 0)
      out += i + 1 == request.logNames.size() ? " and " : ", ";
    out.append("<bdi>").append(Escaped(FileNameOf(request.logNames[i]))).append("</bdi>");
  }
  out += request.logNames.empty() ? "the loaded logs.</p>\n</header>\n<main>\n"
                                  : ".</p>\n</header>\n<main>\n";

  out += "<section id=\"totals\">\n<h2>Totals</h2>\n<dl class=\"figures\">\n";
  const auto figure = [&out](std::string_view caption, std::string_view value) {
    out.append("<div><dt>").append(caption).append("</dt><dd>");
    AppendEscaped(out, value);
    out += "</dd></div>\n";
  };
  figure("Downloads", Grouped(report.totals.downloads));
  figure("Uploads", Grouped(report.totals.uploads));
  figure("Ratio", report.totals.ratio);
  figure("Avg. downloads per address", report.averages.downloadsText);
  figure("Avg. uploads per address", report.averages.uploadsText);
  figure("Avg. ratio", report.averages.ratio);
  out += "</dl>\n</section>\n";

  AppendChart(out, report.activity);

  const std::vector<UserFigures> noUsers;
  const std::vector<UserFigures>& users = report.figures ? *report.figures : noUsers;
  out.append("<section id=\"users\">\n<h2>Users: ").append(Grouped(users.size())).append("</h2>\n");
  out.append("<p class=\"note\">");
  if (request.top)
    out += "Those with the most downloads. ";
  out.append("Leeches, in red, have at least ")
      .append(Grouped(request.leeches.minDownloads))
      .append(" downloads and ")
      .append(std::to_string(request.leeches.minRatioHundredths / 100))
      .push_back('.');
  const std::uint64_t hundredths = request.leeches.minRatioHundredths % 100;
  out.push_back(static_cast<char>('0' + hundredths / 10));
  out.push_back(static_cast<char>('0' + hundredths % 10));
  out += " downloads per upload. Click a heading to sort.</p>\n";
  AppendTable(out, "users-table", detail::kUserColumns, users, "", [&](const UserFigures& user) {
    out += request.leeches.Matches(user) ? "<tr class=\"leech\">" : "<tr>";
  });
  out += "</section>\n";

  const FilesTable noFiles;
  const FilesTable& files = report.files ? *report.files : noFiles;
  out.append("<section id=\"files\">\n<h2>Files: ")
      .append(Grouped(files.files.size()))
      .append("</h2>\n");
  if (request.top)
    out += "<p class=\"note\">The most fetched.</p>\n";
  // A server's paths from the folder they share: the page shows what was fetched, not where the
  // server keeps it.
  AppendTable(out, "files-table", detail::kFileColumns, files.files, SharedRootOf(files),
              [&](const FileFigures&) { out += "<tr>"; });
  out += "</section>\n</main>\n";
  out +=
      "<footer><p>Made with Quorvane from the server's transfer logs. Names are shown as the "
      "logs hold them.</p></footer>\n";
  out.append("<script>").append(kScript).append("</script>\n</body>\n</html>\n");
  return out;
}

}  // namespace quorvane
