// The stored folder list ("savedFolders_v2"): any text either reads as a whole list or as none, a
// list read back from its own text is the same list, and a list made from arbitrary fields (as the
// settings window makes them) survives being written and read.
#include "FuzzSupport.h"
#include "folders/FolderList.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <array>

using namespace quillary;

namespace {

void checkReadList(const QString& text)
{
    const std::optional<FolderList> list = FolderList::fromText(text);
    if (!list)
        return;
    for (const FolderConfig& folder : list->folders) {
        FUZZ_CHECK(!folder.id.isNull());
        FUZZ_CHECK(folder.idText().size() == 36);
    }
    const QString written = list->toText();
    const std::optional<FolderList> again = FolderList::fromText(written);
    FUZZ_CHECK(again && *again == *list);
    FUZZ_CHECK(again->toText() == written);
}

QString someText(FuzzedDataProvider& provider)
{
    // Text as typed or pasted is valid Unicode; invalid UTF-8 is decoded to replacement characters.
    return QString::fromStdString(provider.ConsumeRandomLengthString(64));
}

void checkMadeList(FuzzedDataProvider& provider)
{
    FolderList list;
    const int count = provider.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < count && provider.remaining_bytes() > 0; ++i) {
        std::array<std::uint8_t, 16> idBytes{};
        provider.ConsumeData(idBytes.data(), idBytes.size());
        idBytes[15] |= 1; // a made folder never has the nil id
        FolderConfig folder;
        folder.id = QUuid::fromRfc4122(QByteArrayView(idBytes));
        folder.name = someText(provider);
        folder.path = someText(provider);
        folder.icon = someText(provider);
        folder.isRenamingEnabled = provider.ConsumeBool();
        folder.prefix = someText(provider);
        folder.includeDate = provider.ConsumeBool();
        folder.fileFormat = someText(provider);
        list.folders.append(folder);
    }
    const std::optional<FolderList> read = FolderList::fromText(list.toText());
    FUZZ_CHECK(read && *read == list);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::startApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The same bytes twice over: as stored text, and as the fields of a list to write.
    checkReadList(QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)));
    FuzzedDataProvider provider(data, size);
    checkMadeList(provider);
    return 0;
}
