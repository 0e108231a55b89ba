#include "descend.hpp"

StoredTree store_tree(const TreeRecord& t) {
  StoredTree s;
  s.nnd = t.nnd;
  s.spv.assign(t.spv.begin(), t.spv.begin() + t.nnd);
  s.dt.assign(t.dt.begin(), t.dt.begin() + t.nnd);
  s.spvl.assign(t.spvl.begin(), t.spvl.begin() + t.nnd);
  s.nodeclass.assign(t.nodeclass.begin(), t.nodeclass.begin() + t.nnd);
  s.na_right.assign(t.na_right.begin(), t.na_right.begin() + t.nnd);
  return s;
}
