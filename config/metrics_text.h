// Metric families in the Prometheus text exposition format, the form node_exporter's textfile
// collector reads.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qz {

class MetricsText {
 public:
  using Labels = std::vector<std::pair<std::string, std::string>>;

  // Starts a gauge family with its HELP and TYPE lines; its samples follow.
  void AddGauge(std::string_view name, std::string_view help);
  // A family of one sample without labels.
  void AddGauge(std::string_view name, std::string_view help, double value);
  void AddSample(std::string_view name, double value, const Labels& labels = {});

  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace qz
