// The two walks over the directories of a source tree that the layout, the writers and
// the checks share: breadth first (the order of ISO 9660 directory numbers, ECMA-119
// 6.9, and of the UDF directories' placement) and depth first (pre-order, the order of
// file data). Both visit directories only; a step returning false ends the walk, and the
// walk then returns false. `Node` is TreeNode or const TreeNode.
#pragma once

#include <deque>
#include <vector>

#include "tree/tree_node.h"

namespace vellumcast {

// One order of a directory's entries: the primary chain (firstChild / nextSibling), the
// ISO 9660 chain or the Joliet chain.
using ChainLink = TreeNode* TreeNode::*;

// Visits `root` and then every directory in first-in first-out order; a visited
// directory's subdirectories are queued in the order of the chain `first` / `next`, after
// its step (so a step may reorder the chain of the directory it visits).
template <typename Node, typename Step>
bool WalkBreadthFirst(Node& root, ChainLink first, ChainLink next, Step step) {
  std::deque<Node*> queue{&root};
  while (!queue.empty()) {
    Node* directory = queue.front();
    queue.pop_front();
    if (!step(*directory)) return false;
    for (Node* e = directory->*first; e; e = e->*next) {
      if (e->isDirectory) queue.push_back(e);
    }
  }
  return true;
}

// The breadth-first walk in primary order.
template <typename Node, typename Step>
bool WalkBreadthFirst(Node& root, Step step) {
  return WalkBreadthFirst(root, &TreeNode::firstChild, &TreeNode::nextSibling, step);
}

// Visits a directory, then each subdirectory's tree in primary order (pre-order).
template <typename Node, typename Step>
bool WalkDepthFirst(Node& root, Step step) {
  std::vector<Node*> stack{&root};
  std::vector<Node*> children;
  while (!stack.empty()) {
    Node* directory = stack.back();
    stack.pop_back();
    if (!step(*directory)) return false;
    children.clear();
    for (Node* e = directory->firstChild; e; e = e->nextSibling) {
      if (e->isDirectory) children.push_back(e);
    }
    stack.insert(stack.end(), children.rbegin(), children.rend());
  }
  return true;
}

}  // namespace vellumcast
