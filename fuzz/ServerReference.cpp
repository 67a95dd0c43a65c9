#include "ServerReference.h"

#include "ReferenceReader.h"
#include "logs/DateTime.h"
#include "logs/TextEncoding.h"

namespace quorvane::fuzz {

namespace {

using Cells = std::array<std::string, 5>;
enum Kind { kOther, kDownload, kUpload, kUnreadable };

struct Member {
  std::string key, value;
  bool text = true;  // a string, for JSON
};
// Members read in order; `broken` when the line does not read to its end, `failedKey` the key of
// the member being read when it broke.
struct Members {
  std::vector<Member> members;
  bool broken = false;
  std::string failedKey;
};

bool StartsWith(const std::string& s, std::size_t at, const std::string& word) {
  if (at + word.size() > s.size())
    return false;
  for (std::size_t k = 0; k < word.size(); ++k) {
    if (s[at + k] != word[k])
      return false;
  }
  return true;
}

int Hex(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// `digits` hex digits at s[i], or -1.
long HexAt(const std::string& s, std::size_t i, int digits) {
  long v = 0;
  for (int k = 0; k < digits; ++k) {
    if (i + k >= s.size() || Hex(s[i + k]) < 0)
      return -1;
    v = v * 16 + Hex(s[i + k]);
  }
  return v;
}

bool Scalar(long v) {
  return v >= 0 && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF);
}

Members KeyValues(const std::string& r) {
  Members out;
  std::size_t i = 0;
  const auto fail = [&](std::string key) {
    out.broken = true;
    out.failedKey = std::move(key);
    return out;
  };
  for (;;) {
    std::string key;
    while (i < r.size() && r[i] != '=' && r[i] != ' ' && r[i] != '"')
      key += r[i++];
    if (key.empty() || i == r.size() || r[i] != '=')
      return fail("");
    ++i;
    std::string value;
    if (i < r.size() && r[i] == '"') {
      ++i;
      for (;;) {
        if (i >= r.size())
          return fail(key);
        const char c = r[i];
        if (c == '"') {
          ++i;
          break;
        }
        if (c != '\\') {
          value += c;
          ++i;
          continue;
        }
        if (i + 1 >= r.size())
          return fail(key);
        const char e = r[i + 1];
        i += 2;
        const std::string plain = "\"\\ntrabfv", meant = "\"\\\n\t\r\a\b\f\v";
        bool simple = false;
        for (std::size_t k = 0; k < plain.size(); ++k) {
          if (e == plain[k]) {
            value += meant[k];
            simple = true;
          }
        }
        if (simple)
          continue;
        const int digits = e == 'x' ? 2 : e == 'u' ? 4 : e == 'U' ? 8 : 0;
        const long v = digits ? HexAt(r, i, digits) : -1;
        if (v < 0 || (digits > 2 && !Scalar(v)))
          return fail(key);
        if (digits == 2)
          value += static_cast<char>(v);
        else
          AppendUtf8(value, static_cast<char32_t>(v));
        i += static_cast<std::size_t>(digits);
      }
      if (i < r.size() && r[i] != ' ')
        return fail(key);
    } else {
      while (i < r.size() && r[i] != ' ')
        value += r[i++];
    }
    if (i + 1 == r.size())
      return fail(key);  // a space and nothing behind it
    out.members.push_back({key, value});
    if (i == r.size())
      return out;
    ++i;
  }
}

class JsonReader {
 public:
  explicit JsonReader(const std::string& s) : s_(s) {}
  void Space() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n'))
      ++i_;
  }
  bool Is(char c) {
    Space();
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  bool End() {
    Space();
    return i_ == s_.size();
  }
  bool String(std::string& out) {
    out.clear();
    if (!Is('"'))
      return false;
    while (i_ < s_.size()) {
      const char c = s_[i_++];
      if (c == '"')
        return true;
      if (static_cast<unsigned char>(c) < 0x20 || (c == '\\' && i_ >= s_.size()))
        return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      const char e = s_[i_++];
      const std::string plain = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
      const std::size_t at = plain.find(e);
      if (at != std::string::npos) {
        out += meant[at];
        continue;
      }
      long v = e == 'u' ? HexAt(s_, i_, 4) : -1;
      if (v < 0)
        return false;
      i_ += 4;
      if (v >= 0xD800 && v < 0xDC00 && StartsWith(s_, i_, "\\u")) {
        const long low = HexAt(s_, i_ + 2, 4);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          v = 0x10000 + (v - 0xD800) * 0x400 + (low - 0xDC00);
          i_ += 6;
        }
      }
      AppendUtf8(out, Scalar(v) ? static_cast<char32_t>(v) : U'\uFFFD');
    }
    return false;
  }
  bool Value(std::string& out, bool& text, int depth) {
    Space();
    text = false;
    out.clear();
    if (i_ < s_.size() && s_[i_] == '"')
      return text = true, String(out);
    std::string ignored;
    bool ignoredText;
    if (Is('{')) {
      if (depth > 64)
        return false;
      if (Is('}'))
        return true;
      do {
        if (!String(ignored) || !Is(':') || !Value(ignored, ignoredText, depth + 1))
          return false;
      } while (Is(','));
      return Is('}');
    }
    if (Is('[')) {
      if (depth > 64)
        return false;
      if (Is(']'))
        return true;
      do {
        if (!Value(ignored, ignoredText, depth + 1))
          return false;
      } while (Is(','));
      return Is(']');
    }
    for (const std::string word : {"true", "false", "null"}) {
      if (StartsWith(s_, i_, word)) {
        i_ += word.size();
        return true;
      }
    }
    // -?digits(.digits)?([eE][+-]?digits)?
    const auto digits = [&] {
      const std::size_t from = i_;
      while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9')
        ++i_;
      return i_ > from;
    };
    Is('-');
    if (!digits())
      return false;
    if (i_ < s_.size() && s_[i_] == '.' && (++i_, !digits()))
      return false;
    if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
      ++i_;
      if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-'))
        ++i_;
      return digits();
    }
    return true;
  }

 private:
  const std::string& s_;
  std::size_t i_ = 0;
};

Members JsonObject(const std::string& text, const std::string& watchedKey, bool& watchedSeen) {
  Members out;
  JsonReader json(text);
  out.broken = true;
  if (!json.Is('{'))
    return out;
  if (!json.Is('}')) {
    do {
      Member m;
      if (!json.String(m.key) || !json.Is(':'))
        return out;
      watchedSeen = watchedSeen || m.key == watchedKey;
      if (!json.Value(m.value, m.text, 1))
        return out;
      out.members.push_back(m);
    } while (json.Is(','));
    if (!json.Is('}'))
      return out;
  }
  out.broken = !json.End();
  return out;
}

bool IsDate(const std::string& text) {
  return ParseDateColumn(1, [&](std::size_t) { return std::string_view(text); })[0] != kUndated;
}

// The first text of `key` among the members from `from` on, or nothing.
const std::string* Find(const Members& m, const std::string& key, std::size_t from) {
  for (std::size_t k = from; k < m.members.size(); ++k) {
    if (m.members[k].key == key && m.members[k].text)
      return &m.members[k].value;
  }
  return nullptr;
}

std::string Host(const std::string& a) {
  const auto digits = [&](std::size_t from) {
    bool any = false;
    for (std::size_t k = from; k < a.size(); ++k) {
      if (a[k] < '0' || a[k] > '9')
        return false;
      any = true;
    }
    return any;
  };
  int colons = 0;
  std::size_t colon = 0, close = a.size();
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (a[k] == ':' && colons++ == 0)
      colon = k;
    if (a[k] == ']' && close == a.size())
      close = k;
  }
  if (!a.empty() && a[0] == '[')
    return close + 1 < a.size() && a[close + 1] == ':' && digits(close + 2) ? a.substr(1, close - 1)
                                                                            : a;
  return colons == 1 && digits(colon + 1) ? a.substr(0, colon) : a;
}

// Reads one line (without its line end): its kind and, for a transfer, its cells.
Kind ReadLine(const std::string& line, Cells& cells, int& layout) {
  layout = 0;
  std::size_t start = std::string::npos;
  if (StartsWith(line, 0, "time="))
    start = 0;
  for (std::size_t k = 0; start == std::string::npos && k < line.size() && line[k] != '\t'; ++k) {
    if (StartsWith(line, k, ": time="))
      start = k + 2;
  }
  const std::string messages[2][4] = {
      {"Download file", "Start folder download", "File upload complete", "Folder upload started"},
      {"File download started", "Start folder download", "File upload complete",
       "Folder upload started"}};
  const std::string pathKeys[4] = {"filePath", "path", "dstFile", "dstPath"};
  Members m;
  std::string time, message;
  std::size_t first = 0;
  bool pathSeen = false;
  int which = -1;
  if (start != std::string::npos) {
    m = KeyValues(line.substr(start));
    if (m.members.size() < 3 || m.members[0].key != "time" || m.members[1].key != "level" ||
        m.members[2].key != "msg")
      return kOther;
    time = m.members[0].value;
    message = m.members[2].value;
    first = 3;
    layout = !m.broken && IsDate(time) ? 1 : 0;
    for (int t = 0; t < 4; ++t)
      which = message == messages[0][t] ? t : which;
    if (which >= 0)
      for (const Member& member : m.members)
        pathSeen = pathSeen || member.key == pathKeys[which];
    pathSeen = pathSeen || (which >= 0 && m.failedKey == pathKeys[which]);
  } else {
    std::string parts[3];
    std::size_t k = 0;
    for (std::string& part : parts) {
      while (k < line.size() && line[k] != '\t')
        part += line[k++];
      if (k++ >= line.size())
        return kOther;
    }
    bool prefixed = false;  // the journal's prefix ends at the last ": "
    for (std::size_t c = 0; c + 1 < parts[0].size(); ++c) {
      if (parts[0][c] == ':' && parts[0][c + 1] == ' ')
        time = parts[0].substr(c + 2), prefixed = true;
    }
    if (!prefixed)
      time = parts[0];
    message = parts[2];
    for (int t = 0; t < 4; ++t)
      which = message == messages[1][t] ? t : which;
    bool lower = !parts[1].empty();
    for (char c : parts[1])
      lower = lower && c >= 'a' && c <= 'z';
    const std::string json = line.substr(k);
    m = JsonObject(json, which >= 0 ? pathKeys[which] : std::string(1, '\0'), pathSeen);
    JsonReader opening(json), whole(json);
    std::string ignored;
    bool text;
    layout =
        lower && IsDate(time) && opening.Is('{') && whole.Value(ignored, text, 0) && whole.End()
            ? 2
            : 0;
  }
  if (which < 0)
    return kOther;
  if (m.broken)
    return pathSeen ? kUnreadable : kOther;
  const std::string* path = Find(m, pathKeys[which], first);
  if (!path)
    return kOther;
  const std::string* address = Find(m, "remoteAddr", first);
  const std::string* login = Find(m, "login", first);
  const std::string* name = Find(m, "Name", first);
  if (!name)
    name = Find(m, "name", first);
  cells = {time, address ? Host(*address) : "", login ? *login : "", name ? *name : "", *path};
  for (std::string& cell : cells) {
    if (!ReferenceValidUtf8(cell))
      cell = ReferenceDecode(cell, Encoding::MacRoman);
  }
  return which < 2 ? kDownload : kUpload;
}

}  // namespace

ReferenceServerLog ReferenceServerRead(std::string_view bytes) {
  ReferenceServerLog log;
  // Told by the first 100 non-empty lines, split at CR or LF.
  std::string line;
  int nonEmpty = 0;
  Cells cells;
  for (std::size_t k = 0; k <= bytes.size() && log.layout == 0 && nonEmpty < 100; ++k) {
    if (k < bytes.size() && bytes[k] != '\r' && bytes[k] != '\n') {
      line += bytes[k];
      continue;
    }
    if (!line.empty()) {
      ++nonEmpty;
      ReadLine(line, cells, log.layout);
    }
    line.clear();
  }
  if (log.layout == 0)
    return log;
  std::uint64_t number = 0;
  line.clear();
  for (std::size_t k = 0; k <= bytes.size(); ++k) {
    if (k < bytes.size() && bytes[k] != '\n') {
      line += bytes[k];
      continue;
    }
    if (k == bytes.size() && line.empty())
      break;
    ++number;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    int ignored;
    const Kind kind = ReadLine(line, cells, ignored);
    if (kind == kDownload || kind == kUpload)
      (kind == kDownload ? log.downloads : log.uploads).push_back(cells);
    if (kind == kUnreadable)
      log.unreadable.push_back(number);
    line.clear();
  }
  return log;
}

}  // namespace quorvane::fuzz
