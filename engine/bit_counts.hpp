// Counting the codes of a node's two-bit columns: by bit masks, or by class lists.
//
// Covariates stored two bits per case (32 cases to a 64-bit word, case i in bits 2(i mod 32)
// and 2(i mod 32) + 1 of word i / 32) can be counted over a node without visiting its cases one
// by one: the node's cases become masks over the same words, one per class and per bit of the
// number of times a case occurs in the node (a bootstrap sample repeats cases), and the counts
// of each code follow from popcounts of the masks against the column's low and high bits.
// The counts are the same integers as those of counting case by case. A small node, whose
// masks would be mostly empty words, lists its cases by class instead: a column's codes are then
// counted case by case without looking up any case's class.
#pragma once

#include <cstdint>
#include <vector>

namespace forests {

struct NodeMasks {
  bool active = false;  // built for the node; otherwise its searches count case by case
  // A node too small for masks lists its cases by class instead, so that a count need not
  // look up every case's class: class c's cases (copies repeated, in no particular order) are
  // class_bits[class_start[c] .. class_start[c + 1] - 1], each as the first bit of its cell,
  // 2 * row: its word is that over 64, its shift in the word that modulo 64.
  bool listed = false;
  std::vector<unsigned> class_bits;
  std::vector<int> class_start;
  int nclass = 0;
  int nplane = 0;       // bits of the largest number of copies of a case
  int first_word = 0;   // the node's cases lie in words first_word .. first_word + nwords - 1
  int nwords = 0;
  // Words of each mask: nwords, or with a shifted tail the whole blocks of eight words that
  // cover them. A shifted tail's last block stands for the column's last eight words (its words
  // before those of the node's last partial block are empty), so that the vector loop needs no
  // tail of single words.
  int stride = 0;
  bool shifted_tail = false;
  std::vector<std::uint64_t> mask;  // (plane * nclass + class) * stride + word: one bit per case, at 2(i mod 32)
  std::vector<int> mask_cases;      // cases in each mask
  std::vector<int> total;           // class counts of the node, copies included
};

// Whether counting by masks pays for a node of n cases spread over `words` words, with
// `nmask` masks, on this machine.
bool masks_worthwhile(int n, int words, int nmask);

// The masks of a node's cases (data rows rows[0..n-1], classes y). `copies` is a table of
// zeros, grown as needed and left zeroed. Lists the cases by class instead, masks inactive,
// when counting case by case is the quicker way.
void build_node_masks(const int* rows, int n, const int* y, int nclass, std::vector<int>& copies, NodeMasks& m);

// hist[code * nclass + class] for the four codes of a two-bit column over the node's cases,
// by the masks or the class lists (one of them built).
void count_by_masks(const std::uint64_t* column, const NodeMasks& m, int* hist);

// Columns counted together over a node's listed cases: kListedColumns at a time.
constexpr int kListedColumns = 8;

// Whether count_listed_columns can count the node: two classes listed, few enough cases.
bool counts_listed_columns(const NodeMasks& m);

// counts[code * 2 + class][j] for columns[j], j < ncolumns (at most kListedColumns), over the
// listed cases of a node of two classes (counts_listed_columns): the same counts as
// count_by_masks, each case's word of every column read at once.
void count_listed_columns(const std::uint64_t* const* columns, int ncolumns, const NodeMasks& m,
                          int (*counts)[kListedColumns]);

}  // namespace forests
