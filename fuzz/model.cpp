// The model pre-check (nesting depth of a .osg text): any text is either refused with a reason
// or accepted; the check of a file says the same as the check of its text; and the check of a
// model file (.osg) refuses an empty file and otherwise agrees with the depth check at the model
// limit. The first byte of the input picks the limit (0 to 63), so short inputs reach it: the
// seed files are the exhibit's character after such a byte.

#include <cstddef>
#include <cstdint>
#include <string>

#include "Contract.h"
#include "ModelCheck.h"
#include "ScratchFile.h"

using quorv::fuzz::require;
namespace viewer = quorv::viewer;

namespace {

quorv::fuzz::ScratchFile scratch(".osg");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int limit = data[0] % 64;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const std::size_t length = size - 1;

    std::string reason;
    const bool accepted = viewer::checkModelDepth(text, length, limit, &reason);
    if (!accepted) quorv::fuzz::requireReason(reason);

    require(scratch.write(text, length), "the input can be written to a file");
    std::string fileReason;
    require(viewer::checkModelDepth(scratch.path, limit, &fileReason) == accepted,
            "a file and its text get the same verdict");
    require(accepted || fileReason == scratch.path + ": " + reason,
            "a file's refusal gives the reason for its text, after the file's name");

    std::string why;
    const bool model = viewer::checkModelFile(scratch.path, &why);
    require(model || !why.empty(), "a refused model file comes with a reason");
    // The limit is below the model limit, so what it accepts the model limit accepts too.
    require(
        model == (length >= 2 && (accepted || viewer::checkModelDepth(
                                                  text, length, viewer::kMaxModelDepth, nullptr))),
        "a model file is refused when empty or too deep, and only then");
    return 0;
}
