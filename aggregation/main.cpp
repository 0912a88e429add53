// aggwhite, aggradial and aggorder: one source, the colour rule chosen when
// the program is built.
#include "aggregation/program.h"

namespace {

#if defined(AGG_RULE_WHITE)
using Rule = agg::WhiteRule;
#elif defined(AGG_RULE_RADIAL)
using Rule = agg::RadialRule;
#elif defined(AGG_RULE_ORDER)
using Rule = agg::OrderRule;
#else
#error "choose a colour rule"
#endif

}  // namespace

int main() {
  agg::InstallUnitTable();
  sys::Exe_Entry(agg::MainProgram<Rule>);
}
