// `vtfmt e00`: the E00 interchange files.
#include "Command.h"

namespace vtfmt {

int E00Command(int, char**, int) { throw UsageError{"e00 is not available yet"}; }

}  // namespace vtfmt
