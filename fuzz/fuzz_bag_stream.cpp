// Reads arbitrary bytes as stored bags, bag lists and attribute dictionaries: never crashes, never reads past the
// data, never makes a block much larger than the data could fill, and whatever is read writes back and reads again
// to an equal bag. The first byte chooses: bit 0 the byte order, bits 1-2 the reader (bag, list, attributes),
// bit 3 whether the written form carries hash indexes, bit 4 the whole forms instead of the minimal ones (the
// 'VBAG' form for the bag reader, the older layout for the list reader). Bags read whole are also written as XML
// and JSON text, which must end well (written, or refused for a name XML does not allow).
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "files/VPtrStream.h"
#include "values/VBagArray.h"
#include "values/VPackedDictionary.h"
#include "values/VValueBag.h"

#include <sanitizer/allocator_interface.h>

#include <cstdint>
#include <cstdlib>

namespace {

using namespace vela;

// The largest block asked for while a read runs.
volatile bool gWatching = false;
volatile size_t gLargestBlock = 0;

void OnMalloc(const volatile void*, size_t size) {
    if (gWatching && size > gLargestBlock) gLargestBlock = size;
}
void OnFree(const volatile void*) {}

// Entries cost a few dozen bytes of bookkeeping each, and each entry takes at least one byte of data.
bool BlockFitsTheData(size_t dataSize) {
    return gLargestBlock <= 32 * dataSize + 65536;
}

template <class Write> void WriteTo(VPtrStream& stream, bool bigEndian, Write write) {
    stream.OpenWriting();
    if (bigEndian) stream.SetBigEndian();
    write(&stream);
    stream.CloseWriting();
    stream.OpenReading();
    if (bigEndian) stream.SetBigEndian();
}

// Every attribute decodes within its record, and a written copy reads back with the same entries.
void CheckAttributes(const VPackedDictionary_with_backstore<VPackedValue_VValueSingle>& attributes, bool bigEndian,
                     bool withHash) {
    VString text;
    for (size_t i = 0; i < attributes.GetCount(); ++i) {
        const VValueSingle* value = attributes.GetNthValue(i);
        if (value != nullptr) value->GetString(text);
    }
    VPtrStream stream;
    WriteTo(stream, bigEndian, [&](VStream* s) { attributes.WriteToStream(s, withHash); });
    VPackedDictionary_with_backstore<VPackedValue_VValueSingle> back;
    if (back.ReadFromStream(&stream) != VE_OK || back.GetCount() != attributes.GetCount()) __builtin_trap();
    for (size_t i = 0; i < back.GetCount(); ++i) {
        if (!(back.GetKeyAt(i) == attributes.GetKeyAt(i)) || !back.NthEqualsStored(i, attributes, i)) __builtin_trap();
    }
}

// The 'VBAG' form of a bag writes and reads back equal, and its text forms end well.
void CheckWholeBag(const VValueBag& bag, bool bigEndian) {
    VPtrStream stream;
    WriteTo(stream, bigEndian, [&](VStream* s) { bag.WriteToStream(s); });
    VRefPtr<VValueBag> back = VRefPtr<VValueBag>::Adopt(new VValueBag);
    if (back->ReadFromStream(&stream) != VE_OK || !back->EqualTo(bag)) __builtin_trap();
    VString text;
    const VError xml = bag.DumpXML(text, "bag", true);
    if (xml != VE_OK && xml != VE_INVALID_PARAMETER) __builtin_trap();
    if (bag.GetJSONString(text, 8) != VE_OK) __builtin_trap();
}

void CheckBag(const VValueBag& bag, bool bigEndian, bool withHash) {
    VPtrStream stream;
    WriteTo(stream, bigEndian, [&](VStream* s) { bag.WriteToStreamMinimal(s, withHash); });
    VRefPtr<VValueBag> back = VRefPtr<VValueBag>::Adopt(new VValueBag);
    if (back->ReadFromStreamMinimal(&stream) != VE_OK || !back->EqualTo(bag)) __builtin_trap();
    CheckAttributes(bag.GetAttributes(), bigEndian, withHash);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool bigEndian = (data[0] & 1) != 0;
    const int reader = (data[0] >> 1) & 3;
    const bool withHash = (data[0] & 8) != 0;
    const bool whole = (data[0] & 16) != 0;
    VConstPtrStream input(data + 1, size - 1);
    input.OpenReading();
    if (bigEndian) input.SetBigEndian();

    gLargestBlock = 0;
    if (whole && reader != 2) {
        VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag);
        gWatching = true;
        VError error = reader == 1 ? bag->_ReadFromStream_v1(&input) : bag->ReadFromStream(&input);
        gWatching = false;
        if (!BlockFitsTheData(size)) __builtin_trap();
        if (error != VE_OK) {
            if (!bag->IsEmpty()) __builtin_trap(); // nothing half read is kept
            return 0;
        }
        CheckWholeBag(*bag, bigEndian);
        return 0;
    }
    if (reader == 1) {
        VRefPtr<VBagArray> list = VRefPtr<VBagArray>::Adopt(new VBagArray);
        gWatching = true;
        VError error = list->ReadFromStreamMinimal(&input);
        gWatching = false;
        if (!BlockFitsTheData(size)) __builtin_trap();
        if (error != VE_OK) {
            if (list->GetCount() != 0) __builtin_trap(); // nothing half read is kept
            return 0;
        }
        for (int32 n = 1; n <= list->GetCount(); ++n)
            CheckBag(*list->GetNth(n), bigEndian, withHash);
        return 0;
    }
    if (reader == 2) {
        VPackedDictionary_with_backstore<VPackedValue_VValueSingle> attributes;
        gWatching = true;
        VError error = attributes.ReadFromStream(&input);
        gWatching = false;
        if (!BlockFitsTheData(size)) __builtin_trap();
        if (error != VE_OK) {
            if (attributes.GetCount() != 0) __builtin_trap();
            return 0;
        }
        CheckAttributes(attributes, bigEndian, withHash);
        return 0;
    }
    VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag);
    gWatching = true;
    VError error = bag->ReadFromStreamMinimal(&input);
    gWatching = false;
    if (!BlockFitsTheData(size)) __builtin_trap();
    if (error != VE_OK) {
        if (!bag->IsEmpty()) __builtin_trap();
        return 0;
    }
    CheckBag(*bag, bigEndian, withHash);
    return 0;
}
