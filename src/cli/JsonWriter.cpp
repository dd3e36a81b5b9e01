// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/JsonWriter.h"

#include <cstdio>

namespace quillo {

namespace {
constexpr const char* kReplacement = "\xEF\xBF\xBD";
constexpr unsigned char kFirstPrintable = 0x20;

// Length of the valid UTF-8 sequence at text[i], 0 when there is none.
size_t Utf8SequenceLength(const std::string& text, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  size_t length;
  uint32_t minimum;
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    minimum = 0x10000;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  uint32_t code = lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
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
      if (c < kFirstPrintable) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
        escaped += buffer;
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
