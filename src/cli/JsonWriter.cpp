// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/JsonWriter.h"

#include <cstdio>

#include "cli/Utf8Sequence.h"

namespace quillo {

namespace {
constexpr const char* kReplacement = "\xEF\xBF\xBD";
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;

void AppendCodeEscape(std::string& out, unsigned code) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "\\u%04x", code);
  out += buffer;
}
} // namespace

std::string JsonWriter::Escape(const std::string& text) {
  std::string escaped = "\"";
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = Utf8SequenceLength(text, i);
    if (length == 0) {
      escaped += kReplacement;
      ++i;
      continue;
    }
    if (IsC1Control(text, i, length)) {
      // Valid JSON either way; escaped, the report is safe to show on a
      // terminal as it is. Its second byte is the code point.
      AppendCodeEscape(escaped, static_cast<unsigned char>(text[i + 1]));
      i += length;
      continue;
    }
    if (length > 1) {
      escaped.append(text, i, length);
      i += length;
      continue;
    }
    switch (c) {
    case '"':
      escaped += "\\\"";
      break;
    case '\\':
      escaped += "\\\\";
      break;
    case '\n':
      escaped += "\\n";
      break;
    case '\r':
      escaped += "\\r";
      break;
    case '\t':
      escaped += "\\t";
      break;
    default:
      if (c < kFirstPrintable || c == kDelete) {
        AppendCodeEscape(escaped, c);
      } else {
        escaped += char(c);
      }
    }
    ++i;
  }
  return escaped + "\"";
}

void JsonWriter::Indent() {
  Out << "\n" << std::string(HasMember.size() * 2, ' ');
}

void JsonWriter::BeforeValue() {
  if (AfterKey) {
    AfterKey = false;
    return;
  }
  if (!HasMember.empty()) {
    if (HasMember.back()) Out << ",";
    HasMember.back() = true;
    Indent();
  }
}

void JsonWriter::BeginObject() {
  BeforeValue();
  Out << "{";
  HasMember.push_back(false);
}

void JsonWriter::EndObject() {
  bool any = HasMember.back();
  HasMember.pop_back();
  if (any) Indent();
  Out << "}";
}

void JsonWriter::BeginArray() {
  BeforeValue();
  Out << "[";
  HasMember.push_back(false);
}

void JsonWriter::EndArray() {
  bool any = HasMember.back();
  HasMember.pop_back();
  if (any) Indent();
  Out << "]";
}

JsonWriter& JsonWriter::Key(const std::string& name) {
  BeforeValue();
  Out << Escape(name) << ": ";
  AfterKey = true;
  return *this;
}

void JsonWriter::String(const std::string& text) {
  BeforeValue();
  Out << Escape(text);
}

void JsonWriter::Integer(int64_t value) {
  BeforeValue();
  Out << value;
}

void JsonWriter::Unsigned(uint64_t value) {
  BeforeValue();
  Out << value;
}

void JsonWriter::Percentage(double value) {
  BeforeValue();
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.2f", value);
  Out << buffer;
}

void JsonWriter::Boolean(bool value) {
  BeforeValue();
  Out << (value ? "true" : "false");
}

void JsonWriter::Null() {
  BeforeValue();
  Out << "null";
}

void JsonWriter::Finish() {
  Out << "\n";
}

} // namespace quillo
