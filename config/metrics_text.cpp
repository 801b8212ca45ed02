#include "config/metrics_text.h"

#include <charconv>

namespace qz {
namespace {

// Backslash and line feed in HELP texts; the double quote as well in label values.
std::string Escape(std::string_view text, bool quote) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '"' && quote) {
      out += "\\\"";
    } else {
      out += c;
    }
  }
  return out;
}

// The shortest text that reads back as the same number: byte counts and times stay whole.
std::string FormatValue(double value) {
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace

void MetricsText::AddGauge(std::string_view name, std::string_view help) {
  text_.append("# HELP ").append(name).append(" ").append(Escape(help, false)).append("\n");
  text_.append("# TYPE ").append(name).append(" gauge\n");
}

void MetricsText::AddGauge(std::string_view name, std::string_view help, double value) {
  AddGauge(name, help);
  AddSample(name, value);
}

void MetricsText::AddSample(std::string_view name, double value, const Labels& labels) {
  text_.append(name);
  if (!labels.empty()) {
    text_ += '{';
    for (std::size_t i = 0; i < labels.size(); ++i) {
      if (i > 0) text_ += ',';
      text_.append(labels[i].first).append("=\"").append(Escape(labels[i].second, true)) += '"';
    }
    text_ += '}';
  }
  text_.append(" ").append(FormatValue(value)).append("\n");
}

}  // namespace qz
