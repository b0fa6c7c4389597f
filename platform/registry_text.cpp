// The REGEDIT4 text form of the hive: parsing in time linear in the file's length, and
// writing back in the order keys and values were first seen.
#include "registry.h"
#include "registry_text.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <unordered_map>

using regtext::FoldAscii;
using regtext::kHive;
using regtext::NormaliseKey;
using regtext::SameText;

bool regtext::NormaliseKey(const std::string& in, std::string& out) {
  size_t b = 0, e = in.size();
  while (b < e && in[b] == '\\') ++b;
  while (e > b && in[e - 1] == '\\') --e;
  out = in.substr(b, e - b);
  if (out.find("\\\\") != std::string::npos) return false;
  for (char c : out)
    if (c == '\n' || c == '\r' || c == '\0') return false;
  return true;
}

namespace {

std::string Quote(const std::string& s) {
  std::string r = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') r += '\\';
    r += c;
  }
  return r + '"';
}

// Reads a quoted string starting at s[i] == '"'; i ends after the closing quote.
bool Unquote(const std::string& s, size_t& i, std::string& out) {
  if (i >= s.size() || s[i] != '"') return false;
  out.clear();
  for (++i; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') {
      ++i;
      return true;
    }
    if (c == '\\') {
      if (++i >= s.size() || (s[i] != '\\' && s[i] != '"')) return false;
      c = s[i];
    }
    out += c;
  }
  return false;
}

std::string_view TrimView(std::string_view s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::string Trim(const std::string& s) { return std::string(TrimView(s)); }

}  // namespace

bool TRegistry::Parse(const std::string& input, THive& hive, std::string& error) {
  hive.clear();
  std::string_view text = input;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

  // Physical lines, then logical ones: a hex list may continue over lines ending in '\'.
  // Continuations are appended in place, so a long list costs its length, not its square.
  std::vector<std::string> lines;
  {
    size_t p = 0;
    bool continuing = false;
    while (p <= text.size()) {
      size_t e = text.find('\n', p);
      if (e == std::string_view::npos) e = text.size();
      std::string_view line = text.substr(p, e - p);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      p = e + 1;
      const std::string_view t = TrimView(line);
      if (continuing) {
        lines.back().append(t);
      } else {
        lines.emplace_back(line);
      }
      // A line continues only after a value whose data is hex; what follows is hex data.
      continuing = !t.empty() && t.back() == '\\' &&
                   (continuing || ((t.front() == '"' || t.front() == '@') &&
                                   t.find("=hex") != std::string_view::npos));
      if (continuing) {
        std::string& l = lines.back();
        l.erase(l.find_last_not_of(" \t") + 1);
        l.pop_back();
        l.erase(l.find_last_not_of(" \t") + 1);
      }
    }
  }

  // Keys and values by folded name, so that each line costs the same however many came
  // before it.
  std::unordered_map<std::string, size_t> keyIndex;
  std::unordered_map<std::string, size_t> valueIndex;  // folded "key\0name"
  keyIndex.reserve(lines.size() / 2);  // no rehash on the way for the usual layout
  valueIndex.reserve(lines.size());
  auto fold = [](const std::string& s) {
    std::string f = s;
    for (char& c : f) c = FoldAscii(c);
    return f;
  };
  auto keyAt = [&](const std::string& path) -> size_t {
    auto [it, added] = keyIndex.try_emplace(fold(path), hive.size());
    if (added) hive.push_back({path, {}});
    return it->second;
  };
  auto setValue = [&](size_t key, const std::string& name, TRegValue&& v) {
    TKey& k = hive[key];
    auto [it, added] = valueIndex.try_emplace(fold(k.Path) + '\0' + fold(name), k.Values.size());
    if (added)
      k.Values.emplace_back(name, std::move(v));
    else
      k.Values[it->second].second = std::move(v);
  };
  size_t current = SIZE_MAX;

  bool header = false;
  size_t lineNo = 0;
  for (const std::string& raw : lines) {
    ++lineNo;
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == ';') continue;
    auto fail = [&](const char* why) {
      error = "line " + std::to_string(lineNo) + ": " + why;
      hive.clear();
      return false;
    };
    if (!header) {
      if (line != "REGEDIT4") return fail("the file does not start with REGEDIT4");
      header = true;
      continue;
    }
    if (line[0] == '[') {
      if (line.back() != ']') return fail("unterminated key header");
      const std::string inner = line.substr(1, line.size() - 2);
      const size_t hl = sizeof kHive - 1;
      if (!SameText(inner.substr(0, hl), kHive) || (inner.size() > hl && inner[hl] != '\\'))
        return fail("a key outside HKEY_CURRENT_USER");
      std::string path;
      if (!NormaliseKey(inner.substr(hl), path)) return fail("an empty key name");
      current = keyAt(path);
      continue;
    }
    if (current == SIZE_MAX) return fail("a value before the first key");
    std::string name;
    size_t i = 0;
    if (line[0] == '@') {
      i = 1;
    } else if (!Unquote(line, i, name)) {
      return fail("a malformed value name");
    }
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size() || line[i] != '=') return fail("'=' expected after the value name");
    ++i;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::string data = line.substr(i);
    TRegValue v;
    if (!data.empty() && data[0] == '"') {
      size_t j = 0;
      if (!Unquote(data, j, v.Text) || !Trim(data.substr(j)).empty())
        return fail("a malformed text value");
      v.Type = TRegType::Sz;
    } else if (data.compare(0, 6, "dword:") == 0) {
      const std::string hex = data.substr(6);
      if (hex.empty() || hex.size() > 8 ||
          hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return fail("a malformed dword value");
      v.Type = TRegType::Dword;
      v.Dword = uint32_t(std::strtoul(hex.c_str(), nullptr, 16));
    } else if (data.compare(0, 3, "hex") == 0) {
      size_t colon = data.find(':');
      const std::string kind = data.substr(3, colon == std::string::npos ? 0 : colon - 3);
      if (colon == std::string::npos ||
          !(kind.empty() || (kind.size() >= 3 && kind.front() == '(' && kind.back() == ')' &&
                             kind.find_first_not_of("0123456789abcdefABCDEF", 1) == kind.size() - 1)))
        return fail("a malformed hex value");
      if (data.find_first_not_of("0123456789abcdefABCDEF, \t", colon + 1) != std::string::npos)
        return fail("a malformed hex value");
      v.Type = TRegType::Other;
      v.Text = data;
    } else {
      return fail("a value of an unknown form");
    }
    setValue(current, name, std::move(v));
  }
  if (!header) {
    error = "the file does not start with REGEDIT4";
    return false;
  }
  return true;
}

std::string TRegistry::Format(const THive& hive) {
  std::string out = "REGEDIT4\n\n";
  for (const auto& k : hive) {
    out += "[";
    out += kHive;
    if (!k.Path.empty()) out += "\\" + k.Path;
    out += "]\n";
    for (const auto& [name, v] : k.Values) {
      out += name.empty() ? std::string("@") : Quote(name);
      out += '=';
      switch (v.Type) {
        case TRegType::Sz: out += Quote(v.Text); break;
        case TRegType::Dword: {
          char buf[16];
          std::snprintf(buf, sizeof buf, "dword:%08x", unsigned(v.Dword));
          out += buf;
          break;
        }
        case TRegType::Other: out += v.Text; break;
      }
      out += '\n';
    }
    out += '\n';
  }
  return out;
}
