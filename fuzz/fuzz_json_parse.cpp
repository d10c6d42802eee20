// Parses arbitrary text with every option set the parser knows: never crashes, never recurses without bound, and
// an accepted document written back (compact or indented) is strict JSON that reads back to the same tree: the
// same kinds, keys and strings, numbers within the 14 digits the writer keeps, infinities read back as null and
// dates as their text; a binary wrapper's shared nodes and cycles make text refuse it, never take time or memory
// beyond a bound, and its binary fall-back always writes. The first byte gives the low option bits, the second the
// options 0x100 and 0x200 (bits 0 and 1) and the text's encoding (bit 7: UTF-16, else UTF-8).
#include "core/VString.h"
#include "json/VJSONArray.h"
#include "json/VJSONErrors.h"
#include "json/VJSONImporter.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
#include "json/VJSONWriter.h"

#include <cmath>
#include <cstdint>

namespace {

using namespace vela;

bool SameNumber(double a, double b) {
    return a == b || std::fabs(a - b) <= 1e-13 * std::fmax(std::fabs(a), std::fabs(b));
}

bool Same(const VJSONValue& original, const VJSONValue& back) {
    switch (original.GetType()) {
    case JSON_null:
    case JSON_undefined:
        return back.IsNull();
    case JSON_true:
    case JSON_false:
        return back.GetType() == original.GetType();
    case JSON_number:
        return std::isfinite(original.GetNumber())
                   ? back.IsNumber() && SameNumber(original.GetNumber(), back.GetNumber())
                   : back.IsNull();
    case JSON_time:
        return back.IsString();
    case JSON_string: {
        VString a, b;
        original.GetString(a);
        back.GetString(b);
        return back.IsString() && a == b;
    }
    case JSON_array: {
        VJSONArray* a = original.GetArrayPtr();
        VJSONArray* b = back.GetArrayPtr();
        if (b == nullptr || a->GetCount() != b->GetCount()) return false;
        for (size_t i = 0; i < a->GetCount(); ++i) {
            if (!Same(a->GetAt(i), b->GetAt(i))) return false;
        }
        return true;
    }
    case JSON_object: {
        VJSONObject* a = original.GetObjectPtr();
        VJSONObject* b = back.GetObjectPtr();
        if (b == nullptr || a->GetPropertyCount() != b->GetPropertyCount()) return false;
        for (size_t i = 0; i < a->GetPropertyCount(); ++i) {
            VString name, other;
            a->GetPropertyNameAt(i, name);
            b->GetPropertyNameAt(i, other);
            if (!(name == other) || !Same(a->GetOwnProperty(name), b->GetOwnProperty(name))) return false;
        }
        return true;
    }
    default:
        return false;
    }
}

// What writing a value as text gives.
enum class EWritten { eRead, eRefused, eFailed };

// Writes value with options and reads the text back strictly into back. A binary wrapper may share nodes and
// hold cycles, which text refuses (a cycle, or text repeated past the writer's bound): eRefused.
EWritten WriteAndRead(const VJSONValue& value, uint32 options, VJSONValue& back) {
    VString text;
    VJSONWriter writer(options);
    const VError err = writer.StringifyValue(value, text);
    if (err == VE_JSON_CYCLE || err == VE_STRING_ALLOC_FAILED) return EWritten::eRefused;
    if (err != VE_OK) return EWritten::eFailed;
    return VJSONImporter::ParseString(text, back, VJSONImporter::kStrict) == VE_OK ? EWritten::eRead
                                                                                   : EWritten::eFailed;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    uint32 options = data[0] | (uint32(data[1] & 3) << 8);
    VString text;
    text.FromBlock(data + 2, size - 2, (data[1] & 0x80) != 0 ? VTC_UTF_16 : VTC_UTF_8);

    VJSONImporter tokens(text, options);
    VString token;
    bool quoted = false;
    while (tokens.GetNextJSONToken(token, &quoted) != VJSONImporter::jsonNone) {
        if (token.GetLength() > text.GetLength()) __builtin_trap(); // a token never outgrows the text
    }

    VJSONValue value;
    if (VJSONImporter::ParseString(text, value, options) != VE_OK) return 0;
    bool refused = false;
    for (uint32 writerOptions : {VJSONWriter::kQuoted, VJSONWriter::kQuoted | VJSONWriter::kPretty}) {
        VJSONValue back;
        const EWritten written = WriteAndRead(value, writerOptions, back);
        if (written == EWritten::eFailed || (written == EWritten::eRead && !Same(value, back))) __builtin_trap();
        refused = refused || written == EWritten::eRefused;
    }
    // Whatever text refuses, the binary fall-back writes (shared nodes once) and reads back.
    VString wrapped;
    VJSONValue back;
    if (refused && (value.Stringify(wrapped, 1 | 0x800) != VE_OK || back.ParseFromString(wrapped) != VE_OK))
        __builtin_trap();
    // The joined text of nested arrays stays within the same bound, whatever they share.
    if (value.IsArray()) {
        VString joined;
        value.GetString(joined);
    }
    return 0;
}
