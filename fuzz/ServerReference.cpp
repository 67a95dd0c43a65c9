#include "ServerReference.h"

#include "ReferenceReader.h"
#include "logs/DateTime.h"
#include "logs/TextEncoding.h"

namespace quorvane::fuzz {

namespace {

using Cells = std::array<std::string, 5>;
enum Kind { kOther, kDownload, kUpload, kUnreadable };

// The key/value members of a record read in order. `broken`: it does not read to its end;
// `failedKey`: the key being read when it broke; `text[k]`: member k's value is a string.
struct Members {
  std::vector<std::pair<std::string, std::string>> members;
  std::vector<bool> text;
  bool broken = false;
  std::string failedKey;
};

bool At(const std::string& s, std::size_t i, const std::string& word) {
  return s.compare(i < s.size() ? i : s.size(), word.size(), word) == 0;
}

// `digits` hex digits at s[i] as a number, or -1.
long Hex(const std::string& s, std::size_t i, int digits) {
  long v = 0;
  for (int k = 0; k < digits; ++k, ++i) {
    const char c = i < s.size() ? s[i] : 'g';
    const int d = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
    if (d < 0)
      return -1;
    v = v * 16 + d;
  }
  return v;
}

bool Scalar(long v) {
  return v >= 0 && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF);
}

// One escape behind a backslash at s[i - 1] (Go's when `go`, else JSON's) onto `out`; false
// when it is none. Moves i past it.
bool Escape(const std::string& s, std::size_t& i, std::string& out, bool go) {
  const std::string plain = go ? "\"\\ntrabfv" : "\"\\/bfnrt";
  const std::string meant = go ? "\"\\\n\t\r\a\b\f\v" : "\"\\/\b\f\n\r\t";
  const char e = s[i++];
  for (std::size_t k = 0; k < plain.size(); ++k) {
    if (e == plain[k])
      return out += meant[k], true;
  }
  const int digits = go && e == 'x' ? 2 : e == 'u' ? 4 : go && e == 'U' ? 8 : 0;
  long v = digits ? Hex(s, i, digits) : -1;
  if (v < 0 || (go && digits > 2 && !Scalar(v)))
    return false;
  i += static_cast<std::size_t>(digits);
  if (digits == 2)
    return out += static_cast<char>(v), true;
  if (!go && v >= 0xD800 && v < 0xDC00 && At(s, i, "\\u") && Hex(s, i + 2, 4) >= 0xDC00 &&
      Hex(s, i + 2, 4) <= 0xDFFF)
    v = 0x10000 + (v - 0xD800) * 0x400 + (Hex(s, i + 2, 4) - 0xDC00), i += 6;
  AppendUtf8(out, Scalar(v) ? static_cast<char32_t>(v) : U'\uFFFD');
  return true;
}

Members KeyValues(const std::string& r) {
  Members out;
  for (std::size_t i = 0;;) {
    std::string key, value;
    while (i < r.size() && r[i] != '=' && r[i] != ' ' && r[i] != '"')
      key += r[i++];
    out.broken = true;
    if (key.empty() || i == r.size() || r[i++] != '=')
      return out;
    out.failedKey = key;
    if (i < r.size() && r[i] == '"') {
      for (++i;;) {
        if (i >= r.size())
          return out;  // never closed
        const char c = r[i++];
        if (c == '"')
          break;
        if (c != '\\')
          value += c;
        else if (i >= r.size() || !Escape(r, i, value, true))
          return out;
      }
      if (i < r.size() && r[i] != ' ')
        return out;
    } else {
      while (i < r.size() && r[i] != ' ')
        value += r[i++];
    }
    if (i + 1 == r.size())
      return out;  // a space and nothing behind it
    out.members.emplace_back(key, value);
    out.text.push_back(true);
    out.broken = false;
    out.failedKey.clear();
    if (i++ == r.size())
      return out;
  }
}

// JSON, recursively; strings unescaped into `out`.
struct Json {
  const std::string& s;
  std::size_t i = 0;

  bool Is(char c) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n'))
      ++i;
    return i < s.size() && s[i] == c && (++i, true);
  }
  bool String(std::string& out) {
    out.clear();
    if (!Is('"'))
      return false;
    while (i < s.size()) {
      const char c = s[i++];
      if (c == '"')
        return true;
      if (static_cast<unsigned char>(c) < 0x20 ||
          (c == '\\' && (i >= s.size() || !Escape(s, i, out, false))))
        return false;
      if (c != '\\')
        out += c;
    }
    return false;
  }
  bool Digits() {
    const std::size_t from = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
      ++i;
    return i > from;
  }
  bool Value(std::string& out, bool& text, int depth) {
    std::string ignored;
    bool ignoredText;
    text = false;
    out.clear();
    if (Is('"'))
      return --i, text = true, String(out);
    for (const char* close : {"}", "]"}) {
      if (!Is(close[0] == '}' ? '{' : '['))
        continue;
      if (depth > 64)
        return false;
      if (Is(close[0]))
        return true;
      do {
        if (close[0] == '}' && (!String(ignored) || !Is(':')))
          return false;
        if (!Value(ignored, ignoredText, depth + 1))
          return false;
      } while (Is(','));
      return Is(close[0]);
    }
    for (const std::string word : {"true", "false", "null"}) {
      if (At(s, i, word))
        return i += word.size(), true;
    }
    if (i < s.size() && s[i] == '-')
      ++i;
    if (!Digits() || (i < s.size() && s[i] == '.' && (++i, !Digits())))
      return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
      if (++i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
      return Digits();
    }
    return true;
  }
};

// The older layout's object: its members in order; `watchedSeen` once the key `watched` is read.
Members JsonMembers(const std::string& text, const std::string& watched, bool& watchedSeen) {
  Members out;
  Json json{text};
  out.broken = true;
  std::string key, value;
  bool isText;
  if (!json.Is('{'))
    return out;
  if (!json.Is('}')) {
    do {
      if (!json.String(key) || !json.Is(':'))
        return out;
      watchedSeen = watchedSeen || key == watched;
      if (!json.Value(value, isText, 1))
        return out;
      out.members.emplace_back(key, value);
      out.text.push_back(isText);
    } while (json.Is(','));
    if (!json.Is('}'))
      return out;
  }
  out.broken = json.Is('\x01') || json.i != text.size();
  return out;
}

bool IsDate(const std::string& text) {
  return ParseDateColumn(1, [&](std::size_t) { return std::string_view(text); })[0] != kUndated;
}

// The first text of `key` among the members from `from` on, or "" (and `found` false).
std::string Find(const Members& m, const std::string& key, std::size_t from,
                 bool* found = nullptr) {
  for (std::size_t k = from; k < m.members.size(); ++k) {
    if (m.members[k].first == key && m.text[k])
      return found && (*found = true), m.members[k].second;
  }
  return found && (*found = false), "";
}

std::string Host(const std::string& a) {
  const auto port = [&](std::size_t from) {
    for (std::size_t k = from; k < a.size(); ++k) {
      if (a[k] < '0' || a[k] > '9')
        return false;
    }
    return from < a.size();
  };
  std::size_t colons = 0, colon = 0, close = a.size();
  for (std::size_t k = a.size(); k-- > 0;) {
    colons += a[k] == ':';
    colon = a[k] == ':' ? k : colon;
    close = a[k] == ']' ? k : close;
  }
  if (!a.empty() && a[0] == '[')
    return close + 1 < a.size() && a[close + 1] == ':' && port(close + 2) ? a.substr(1, close - 1)
                                                                          : a;
  return colons == 1 && port(colon + 1) ? a.substr(0, colon) : a;
}

const std::string kPathKeys[4] = {"filePath", "path", "dstFile", "dstPath"};
const std::string kMessages[2][4] = {
    {"Download file", "Start folder download", "File upload complete", "Folder upload started"},
    {"File download started", "Start folder download", "File upload complete",
     "Folder upload started"}};

// One line (without its line end): its kind, its cells for a transfer, and whether it reads
// whole as a record of a layout (1 key=value, 2 the older one; 0 none).
Kind ReadLine(const std::string& line, Cells& cells, int& layout) {
  std::size_t start = At(line, 0, "time=") ? 0 : std::string::npos;
  for (std::size_t k = 0; start == std::string::npos && k < line.size() && line[k] != '\t'; ++k)
    start = At(line, k, ": time=") ? k + 2 : start;
  Members m;
  std::string time;
  std::size_t first = 0;
  bool pathSeen = false;
  int which = -1;
  if (start != std::string::npos) {
    m = KeyValues(line.substr(start));
    if (m.members.size() < 3 || m.members[0].first != "time" || m.members[1].first != "level" ||
        m.members[2].first != "msg")
      return layout = 0, kOther;
    time = m.members[0].second;
    first = 3;
    layout = !m.broken && IsDate(time) ? 1 : 0;
    for (int t = 0; t < 4; ++t)
      which = m.members[2].second == kMessages[0][t] ? t : which;
    Find(m, which >= 0 ? kPathKeys[which] : "", 0, &pathSeen);
    pathSeen = which >= 0 && (pathSeen || m.failedKey == kPathKeys[which]);
  } else {
    std::string parts[3];
    std::size_t k = 0;
    for (std::string& part : parts) {
      while (k < line.size() && line[k] != '\t')
        part += line[k++];
      if (k++ >= line.size())
        return layout = 0, kOther;
    }
    time = parts[0];
    for (std::size_t c = 0; c + 1 < parts[0].size(); ++c) {
      if (parts[0][c] == ':' && parts[0][c + 1] == ' ')
        time = parts[0].substr(c + 2);  // behind the journal's prefix
    }
    for (int t = 0; t < 4; ++t)
      which = parts[2] == kMessages[1][t] ? t : which;
    bool lower = !parts[1].empty();
    for (char c : parts[1])
      lower = lower && c >= 'a' && c <= 'z';
    const std::string json = line.substr(k);
    m = JsonMembers(json, which >= 0 ? kPathKeys[which] : std::string(1, '\0'), pathSeen);
    Json opening{json}, whole{json};
    std::string ignored;
    bool text;
    layout = lower && IsDate(time) && opening.Is('{') && whole.Value(ignored, text, 0) &&
                     !whole.Is('\x01') && whole.i == json.size()
                 ? 2
                 : 0;
  }
  bool hasPath = false;
  const std::string path = which < 0 ? "" : Find(m, kPathKeys[which], first, &hasPath);
  if (which < 0 || (m.broken && !pathSeen) || (!m.broken && !hasPath))
    return kOther;
  if (m.broken)
    return kUnreadable;
  bool upper = false;
  const std::string name = Find(m, "Name", first, &upper);
  cells = {time, Host(Find(m, "remoteAddr", first)), Find(m, "login", first),
           upper ? name : Find(m, "name", first), path};
  for (std::string& cell : cells) {
    if (!ReferenceValidUtf8(cell))
      cell = ReferenceDecode(cell, Encoding::MacRoman);
  }
  return which < 2 ? kDownload : kUpload;
}

}  // namespace

ReferenceServerLog ReferenceServerRead(std::string_view bytes) {
  ReferenceServerLog log;
  Cells cells;
  int layout = 0;
  // Told by the first 100 non-empty lines, split at CR or LF.
  std::string line;
  for (std::size_t k = 0, nonEmpty = 0; k <= bytes.size() && !log.layout && nonEmpty < 100; ++k) {
    if (k < bytes.size() && bytes[k] != '\r' && bytes[k] != '\n') {
      line += bytes[k];
    } else if (!line.empty()) {
      ++nonEmpty;
      ReadLine(line, cells, log.layout);
      line.clear();
    }
  }
  if (!log.layout)
    return log;
  line.clear();
  for (std::size_t k = 0, number = 0; k < bytes.size() || !line.empty(); ++k) {
    if (k < bytes.size() && bytes[k] != '\n') {
      line += bytes[k];
      continue;
    }
    ++number;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    const Kind kind = ReadLine(line, cells, layout);
    if (kind == kDownload || kind == kUpload)
      (kind == kDownload ? log.downloads : log.uploads).push_back(cells);
    if (kind == kUnreadable)
      log.unreadable.push_back(number);
    line.clear();
  }
  return log;
}

}  // namespace quorvane::fuzz
