// Linked into the test programs that check the tables' own layout (their
// rows, pages, triggers and indexes): the databases they make keep the
// layout that stores every row. A test that sets the layout itself wins.

#include <cstdlib>

namespace {

[[maybe_unused]] const int kTablesLayout = setenv("CORVINA_LAYOUT", "tables", 0);

}  // namespace
