#pragma once

#include <QDialog>

namespace qz {

// "Info über qzbackup": the icon, the version and OK.
class AboutDialog : public QDialog {
  Q_OBJECT
 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace qz
