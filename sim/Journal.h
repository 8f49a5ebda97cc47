#pragma once
// The simulator's journal, STATE/journal.jsonl: one flat JSON object per line for every
// finished or broken job, with string and whole-number fields only. Tests and people read
// it; each component of the simulator writes its own kind of record.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace edog::sim {

class JournalRecord {
 public:
  JournalRecord& Set(const std::string& key, const std::string& text);
  JournalRecord& Set(const std::string& key, const char* text) { return Set(key, std::string(text)); }
  JournalRecord& Set(const std::string& key, uint64_t number);
  // Like Set, but a new field goes first.
  JournalRecord& SetFront(const std::string& key, const std::string& text);
  bool Has(const std::string& key) const;
  // The field's text (numbers in decimal), or empty.
  std::string Text(const std::string& key) const;
  // The field as a number; 0 when absent or not a number.
  uint64_t Number(const std::string& key) const;

  std::string ToJson() const;
  static std::optional<JournalRecord> Parse(const std::string& line);

 private:
  struct Field {
    std::string key;
    std::string value;
    bool isNumber;
  };
  Field* Find(const std::string& key);
  const Field* Find(const std::string& key) const;
  std::vector<Field> fields_;  // in insertion order, as written
};

class Journal {
 public:
  static constexpr const char* kFileName = "journal.jsonl";
  explicit Journal(std::string path) : path_(std::move(path)) {}

  // Appends one line (a "time" field in UTC is added first when absent) and wakes waiters.
  bool Append(JournalRecord record);
  // Every record in the file, in order (lines that do not parse are skipped).
  std::vector<JournalRecord> ReadAll() const;
  // Records appended by this object since it was made.
  size_t AppendedCount() const;
  // Waits until at least `count` records have been appended, or the time is up.
  bool WaitForAppended(size_t count, uint32_t timeoutMs) const;
  // Called with each line after it is written (the program echoes them).
  void SetListener(std::function<void(const std::string&)> listener);
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  size_t appended_ = 0;
  std::function<void(const std::string&)> listener_;
};

std::string UtcTimestamp();  // "2026-12-08T18:41:33.123Z"

}  // namespace edog::sim
