#pragma once

#include "core/VError.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "core/VString.h"

#include <memory>
#include <vector>

namespace vela {

class IJSONObject;
class IRefCountable;
class VJSONArray;
class VJSONObject;
class VJSONPropertyName;
class VJSONValue;
template <size_t Granularity, size_t Divisor, size_t Cap> class VMemoryBuffer;

// Writes a JSON value graph in the compact binary form that VJSONBinaryImporter reads back: one type byte (the
// JSONType, 255 for a reference) and its payload, multi-byte fields in host order, strings as UTF-16 units.
// Unlike text it keeps undefined and dates, object identity (an object or array met again is written as a
// reference: byte 255 and the JSON Pointer of its first place, so shared nodes and cycles survive), the class of
// user-class instances and the state of objects whose implementation has a binary signature.
// A writer serves one value graph: what it has met stays recorded until it is destroyed, and is held alive from
// the first hook call or shared node on, so that no address ever stands for two nodes.
// Failures are raised and answered; the buffer then holds what was written before: 108 for nesting deeper than
// kJSONTextMaxDepth, 915 for a property name of 32768 units or more, a class or store name of 65536 units or
// more, an array of more than 2^31 - 1 items, or an implementation that has no binary form, and 100 when the
// buffer cannot grow.
class VJSONBinaryWriter : public VObject {
public:
    // One step of the place of a value, built on the stack while descending: a property name, or an array index
    // when fName is null. The root has no parent.
    struct PathPart {
        const PathPart* fParent = nullptr;
        const VString* fName = nullptr;
        uint64 fIndex = 0;
    };

    // flags are kept for the caller and change nothing in the form written.
    explicit VJSONBinaryWriter(uint32 flags = 0);
    ~VJSONBinaryWriter() override;
    VJSONBinaryWriter(const VJSONBinaryWriter&) = delete;
    VJSONBinaryWriter& operator=(const VJSONBinaryWriter&) = delete;

    uint32 GetFlags() const noexcept { return fFlags; }

    // Appends value; an object or array at the root is recorded as "#".
    VError StreamValue(const VJSONValue& value, VMemoryBuffer<1024, 2, 1048576>& buffer);
    // Append an object (array) directly. The root itself is not recorded: a cycle back to it writes it again
    // where the cycle meets it, and that copy is recorded.
    VError StreamObject(const VJSONObject* object, VMemoryBuffer<1024, 2, 1048576>& buffer);
    VError StreamArray(const VJSONArray* array, VMemoryBuffer<1024, 2, 1048576>& buffer);

    // out: the JSON Pointer of path: "#", then per step "/" and the name with "~" written "~0" and "/" written
    // "~1", or the index in decimal.
    static void BuildPathPointerString(const PathPart* path, VString& out);

private:
    class Sink;
    class NodeTable;
    struct Step;
    struct Place;

    VError _Finish(VError err, const Sink& sink);
    VError _StreamValue(const VJSONValue& value, Sink& sink, const Place& place);
    VError _StreamObject(const VJSONObject* object, Sink& sink, uint32 step);
    VError _StreamArray(const VJSONArray* array, Sink& sink, uint32 step);
    VError _StreamMembers(const VJSONObject* object, IJSONObject* implementation, bool hasSignature, Sink& sink,
                          uint32 step);
    VError _StreamName(const UniChar* units, int32 length, Sink& sink);
    VError _StreamTrailer(const VJSONObject* object, IJSONObject* implementation, uint32 signature, Sink& sink);
    // A reference to the node first met at step.
    void _StreamReference(uint32 step, Sink& sink);
    // The step of place, made when it is a new one.
    uint32 _StepOf(const Place& place);
    // Records node (met for the first time); mayChange: a hook or another task may change what it holds.
    void _Record(const IRefCountable* node, bool mayChange);
    // Takes a reference on every node recorded, and on those recorded from then on.
    void _HoldRecorded();

    uint32 fFlags;
    int32 fDepth = 0;
    std::vector<Step> fSteps;
    std::unique_ptr<NodeTable> fNodes;
    std::vector<const IRefCountable*> fRecorded; // with one reference each once fHolding is set
    bool fHolding = false;
};

} // namespace vela
