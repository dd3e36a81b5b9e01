// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace quillo {

// Writes one JSON document, indented, to a stream. Strings are written as
// valid UTF-8: bytes that are not become U+FFFD. Every control character
// (C0, DEL, C1) is written as \u00XX.
class JsonWriter {
public:
  explicit JsonWriter(std::ostream& out) : Out(out) {}

  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  // The name of the next member of the current object.
  JsonWriter& Key(const std::string& name);
  void String(const std::string& text);
  void Integer(int64_t value);
  void Unsigned(uint64_t value);
  // With two decimals, as the report shows percentages.
  void Percentage(double value);
  void Boolean(bool value);
  void Null();
  // Ends the document with a newline.
  void Finish();

  static std::string Escape(const std::string& text);

private:
  void BeforeValue();
  void Indent();

  std::ostream& Out;
  // Per open container: whether it has a member yet.
  std::vector<bool> HasMember;
  bool AfterKey = false;
};

} // namespace quillo
