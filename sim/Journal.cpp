#include "sim/Journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>

#include "common/Files.h"
#include "common/Format.h"
#include "common/UniqueFd.h"
#include "sim/StateFiles.h"

namespace edog::sim {
namespace {

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          out += Format("\\u%04x", c);
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

// A tiny reader for the flat objects this journal writes.
class FlatJsonReader {
 public:
  explicit FlatJsonReader(const std::string& s) : s_(s) {}
  bool Skip(char c) {
    Ws();
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  bool AtEnd() {
    Ws();
    return i_ == s_.size();
  }
  bool String(std::string& out) {
    if (!Skip('"')) return false;
    out.clear();
    while (i_ < s_.size()) {
      const char c = s_[i_++];
      if (c == '"') return true;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i_ >= s_.size()) return false;
      const char e = s_[i_++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          if (i_ + 4 > s_.size()) return false;
          out += static_cast<char>(std::stoul(s_.substr(i_, 4), nullptr, 16) & 0xFF);
          i_ += 4;
          break;
        }
        default: out += e;
      }
    }
    return false;
  }
  bool Number(std::string& out) {
    Ws();
    out.clear();
    while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') out += s_[i_++];
    return !out.empty();
  }
  bool PeekQuote() {
    Ws();
    return i_ < s_.size() && s_[i_] == '"';
  }

 private:
  void Ws() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r')) ++i_;
  }
  const std::string& s_;
  size_t i_ = 0;
};

}  // namespace

JournalRecord::Field* JournalRecord::Find(const std::string& key) {
  for (auto& f : fields_) {
    if (f.key == key) return &f;
  }
  return nullptr;
}

const JournalRecord::Field* JournalRecord::Find(const std::string& key) const {
  return const_cast<JournalRecord*>(this)->Find(key);
}

JournalRecord& JournalRecord::Set(const std::string& key, const std::string& text) {
  if (Field* f = Find(key)) {
    *f = {key, text, false};
  } else {
    fields_.push_back({key, text, false});
  }
  return *this;
}

JournalRecord& JournalRecord::Set(const std::string& key, uint64_t number) {
  const std::string text = std::to_string(number);
  if (Field* f = Find(key)) {
    *f = {key, text, true};
  } else {
    fields_.push_back({key, text, true});
  }
  return *this;
}

JournalRecord& JournalRecord::SetFront(const std::string& key, const std::string& text) {
  if (Field* f = Find(key)) {
    *f = {key, text, false};
  } else {
    fields_.insert(fields_.begin(), {key, text, false});
  }
  return *this;
}

bool JournalRecord::Has(const std::string& key) const { return Find(key) != nullptr; }

std::string JournalRecord::Text(const std::string& key) const {
  const Field* f = Find(key);
  return f ? f->value : std::string();
}

uint64_t JournalRecord::Number(const std::string& key) const {
  const Field* f = Find(key);
  if (!f || !f->isNumber) return 0;
  return std::stoull(f->value);
}

std::string JournalRecord::ToJson() const {
  std::string out = "{";
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (i) out += ",";
    out += Quote(fields_[i].key) + ":" + (fields_[i].isNumber ? fields_[i].value : Quote(fields_[i].value));
  }
  return out + "}";
}

std::optional<JournalRecord> JournalRecord::Parse(const std::string& line) {
  FlatJsonReader r(line);
  JournalRecord rec;
  if (!r.Skip('{')) return std::nullopt;
  if (r.Skip('}')) return r.AtEnd() ? std::optional<JournalRecord>(rec) : std::nullopt;
  for (;;) {
    std::string key, value;
    if (!r.String(key) || !r.Skip(':')) return std::nullopt;
    if (r.PeekQuote()) {
      if (!r.String(value)) return std::nullopt;
      rec.fields_.push_back({key, value, false});
    } else {
      if (!r.Number(value)) return std::nullopt;
      rec.fields_.push_back({key, value, true});
    }
    if (r.Skip('}')) break;
    if (!r.Skip(',')) return std::nullopt;
  }
  if (!r.AtEnd()) return std::nullopt;
  return rec;
}

std::string UtcTimestamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  gmtime_r(&t, &tm);
  return Format("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
}

bool Journal::Append(JournalRecord record) {
  if (!record.Has("time")) record.SetFront("time", UtcTimestamp());
  const std::string line = record.ToJson();
  std::function<void(const std::string&)> listener;
  bool ok = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // A link or pipe planted at the journal's name is refused, never written through.
    const UniqueFd f(OpenStateFile(path_, O_WRONLY | O_APPEND, nullptr));
    const std::string text = line + "\n";
    ok = f.IsValid() && ::write(f.Get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ++appended_;
    listener = listener_;
  }
  changed_.notify_all();
  if (listener) listener(line);
  return ok;
}

std::vector<JournalRecord> Journal::ReadAll() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<JournalRecord> out;
  std::ifstream in(path_, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (auto rec = JournalRecord::Parse(line)) out.push_back(std::move(*rec));
  }
  return out;
}

size_t Journal::AppendedCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return appended_;
}

bool Journal::WaitForAppended(size_t count, uint32_t timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return appended_ >= count; });
}

void Journal::SetListener(std::function<void(const std::string&)> listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  listener_ = std::move(listener);
}

}  // namespace edog::sim
