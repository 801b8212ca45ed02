#include "app/about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "app/dialog_units.h"
#include "app/icons.h"
#include "app/resource_ids.h"

namespace qz {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setFont(DialogFont());
  DialogUnits du(font());
  setWindowTitle(QString::fromUtf8("Info über qzbackup"));
  setFixedSize(du.Size(235, 55));

  auto* icon = new QLabel(this);
  icon->setPixmap(PadlockPixmap(32));
  icon->setGeometry(du.Rect(11, 17, 0, 0).topLeft().x(), du.Rect(11, 17, 0, 0).topLeft().y(), 32,
                    32);

  auto* version = new QLabel("qzbackup Version 2.0", this);
  version->setTextFormat(Qt::PlainText);
  version->setObjectName("version");
  version->setGeometry(du.Rect(40, 10, 119, 8));

  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("ok");
  ok->setGeometry(du.Rect(178, 7, 50, 14));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace qz
