// Fuzzes the text box's restore from a window definition: a property bag of
// arbitrary "name=value" lines, restored into a shown text box that is then
// laid out, painted and saved again, without fault.

#include "FuzzInput.h"
#include "controls/PropertyBag.h"
#include "controls/WPTextBox.h"

#include <QApplication>
#include <QPixmap>

#include <memory>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 8192)
        return 0;
    const QStringList lines =
        QString::fromUtf8(FuzzInput::bytes(data, size)).split(u'\n');
    const PropertyBag bag = PropertyBag::fromStringList(lines);

    auto box = std::make_unique<WPTextBox>();
    box->resize(145, 21);
    box->ReadProperties(bag);
    box->show();
    box->resize(200, 30);  // a layout pass with the restored margins
    QPixmap canvas(box->size());
    box->render(&canvas);

    PropertyBag saved;
    box->WriteProperties(saved);
    (void)saved.toStringList();
    return 0;
}
