// tree<T>: an n-ary tree container whose nodes hold their data by value.
//
// The top-level nodes form one sibling chain between two sentinel nodes, `head` and `feet`:
// head.next_sibling is the first top-level node (feet when empty), feet.prev_sibling the last.
// begin() is the first top-level node and end() is `feet`, so a pre-order walk from begin()
// visits every top-level subtree in order and stops at end().
//
// Threads: no lock. A tree is used by one thread at a time; owners that share one copy it under
// their own mutex before handing it out.
#ifndef CORVANE_TREE_H
#define CORVANE_TREE_H

#include <cstddef>
#include <iterator>
#include <memory>

template <class T>
class tree_node_ {
 public:
  tree_node_() : parent(0), first_child(0), last_child(0), prev_sibling(0), next_sibling(0), data() {}
  explicit tree_node_(const T& value)
      : parent(0), first_child(0), last_child(0), prev_sibling(0), next_sibling(0), data(value) {}

  tree_node_* parent;
  tree_node_* first_child;
  tree_node_* last_child;
  tree_node_* prev_sibling;
  tree_node_* next_sibling;
  T data;
};

template <class T, class NodeAllocator = std::allocator<tree_node_<T> > >
class tree {
 public:
  typedef T value_type;
  typedef tree_node_<T> tree_node;

  // What both iterators share: the node they stand on (null past the last child of a node).
  class iterator_base {
   public:
    typedef std::forward_iterator_tag iterator_category;
    typedef T value_type;
    typedef std::ptrdiff_t difference_type;
    typedef T* pointer;
    typedef T& reference;

    iterator_base() : node(0) {}
    explicit iterator_base(tree_node* n) : node(n) {}

    T& operator*() const { return node->data; }
    T* operator->() const { return &node->data; }
    bool operator==(const iterator_base& other) const { return node == other.node; }
    bool operator!=(const iterator_base& other) const { return node != other.node; }

    tree_node* node;
  };

  // Walks each node before its children, the children in order, then the next sibling.
  class pre_order_iterator : public iterator_base {
   public:
    pre_order_iterator() : iterator_base(), skip_current_children(false) {}
    explicit pre_order_iterator(tree_node* n) : iterator_base(n), skip_current_children(false) {}
    pre_order_iterator(const iterator_base& other)  // NOLINT: any position converts
        : iterator_base(other.node), skip_current_children(false) {}

    // The next increment passes over the children of the current node.
    void skip_children() { skip_current_children = true; }

    pre_order_iterator& operator++() {
      tree_node* n = this->node;
      if (n == 0) return *this;
      if (skip_current_children || n->first_child == 0) {
        skip_current_children = false;
        while (n != 0 && n->next_sibling == 0) n = n->parent;
        this->node = n == 0 ? 0 : n->next_sibling;
      } else {
        this->node = n->first_child;
      }
      return *this;
    }
    pre_order_iterator operator++(int) {
      pre_order_iterator before = *this;
      ++*this;
      return before;
    }

    bool skip_current_children;
  };

  // Walks one run of siblings. At the end of a child run `node` is null and `parent` tells
  // whose children they were; the top-level run ends at `feet` (end()).
  class sibling_iterator : public iterator_base {
   public:
    sibling_iterator() : iterator_base(), parent(0) {}
    explicit sibling_iterator(tree_node* n) : iterator_base(n), parent(n ? n->parent : 0) {}
    sibling_iterator(const iterator_base& other)  // NOLINT: any position converts
        : iterator_base(other.node), parent(other.node ? other.node->parent : 0) {}
    sibling_iterator(tree_node* n, tree_node* p) : iterator_base(n), parent(p) {}

    sibling_iterator& operator++() {
      if (this->node != 0) this->node = this->node->next_sibling;
      return *this;
    }
    sibling_iterator operator++(int) {
      sibling_iterator before = *this;
      ++*this;
      return before;
    }

    tree_node* parent;
  };

  tree() { init(); }
  tree(const tree& other) {
    init();
    copy_from(other);
  }
  tree(tree&& other) {
    init();
    swap(other);
  }
  // Assigning a tree to itself keeps it as it is.
  tree& operator=(tree&& other) {
    swap(other);
    return *this;
  }
  // Assigning a tree to itself keeps it as it is.
  tree& operator=(const tree& other) {
    if (this != &other) {
      tree copy(other);
      swap(copy);
    }
    return *this;
  }
  ~tree() {
    clear();
    destroy_node(head);
    destroy_node(feet);
  }

  void swap(tree& other) {
    tree_node* h = head;
    tree_node* f = feet;
    head = other.head;
    feet = other.feet;
    other.head = h;
    other.feet = f;
  }

  // Erases every top-level node with its subtree.
  void clear() {
    while (head->next_sibling != feet) erase(pre_order_iterator(head->next_sibling));
  }

  bool empty() const { return head->next_sibling == feet; }

  // Number of nodes, sentinels not counted.
  std::size_t size() const {
    std::size_t n = 0;
    for (pre_order_iterator it = begin(); it != end(); ++it) ++n;
    return n;
  }

  pre_order_iterator begin() const { return pre_order_iterator(head->next_sibling); }
  pre_order_iterator end() const { return pre_order_iterator(feet); }

  // The children of `position`, as a sibling run.
  sibling_iterator begin(const iterator_base& position) const {
    return sibling_iterator(position.node->first_child, position.node);
  }
  sibling_iterator end(const iterator_base& position) const { return sibling_iterator(0, position.node); }

  std::size_t number_of_children(const iterator_base& position) const {
    std::size_t n = 0;
    for (tree_node* c = position.node->first_child; c != 0; c = c->next_sibling) ++n;
    return n;
  }

  // A new node holding a copy of `value`, as the last child of `position`. A null position or
  // a sentinel adds a top-level node last.
  pre_order_iterator append_child(const iterator_base& position, const T& value) {
    tree_node* p = position.node;
    if (p == 0 || p == head || p == feet) return insert(end(), value);
    tree_node* n = create_node(value);
    n->parent = p;
    n->prev_sibling = p->last_child;
    if (p->last_child != 0) p->last_child->next_sibling = n;
    else p->first_child = n;
    p->last_child = n;
    return pre_order_iterator(n);
  }

  // A new node holding a copy of `value`, as the previous sibling of `position`. A null
  // position means end(): the value becomes the last top-level node.
  pre_order_iterator insert(const iterator_base& position, const T& value) {
    tree_node* at = position.node;
    if (at == 0 || at == head) at = feet;
    tree_node* n = create_node(value);
    link_before(at, n);
    return pre_order_iterator(n);
  }

  // As above; past the end of a child run the value becomes the last child of that run's parent.
  sibling_iterator insert(const sibling_iterator& position, const T& value) {
    if (position.node == 0 && position.parent != 0) return sibling_iterator(append_child(pre_order_iterator(position.parent), value).node);
    return sibling_iterator(insert(static_cast<const iterator_base&>(position), value).node);
  }

  // A new node holding a copy of `value`, as the next sibling of `position` (end() or a null
  // position add a top-level node last).
  pre_order_iterator insert_after(const iterator_base& position, const T& value) {
    tree_node* at = position.node;
    if (at == 0 || at == feet) return insert(end(), value);
    tree_node* n = create_node(value);
    n->parent = at->parent;
    n->prev_sibling = at;
    n->next_sibling = at->next_sibling;
    if (at->next_sibling != 0) at->next_sibling->prev_sibling = n;
    else if (at->parent != 0) at->parent->last_child = n;
    at->next_sibling = n;
    return pre_order_iterator(n);
  }

  // Frees the node at `position` with its subtree. Returns the pre-order position that followed
  // it with its children skipped. A null position or a sentinel is left alone.
  pre_order_iterator erase(const iterator_base& position) {
    tree_node* n = position.node;
    if (n == 0 || n == head || n == feet) return pre_order_iterator(n);
    pre_order_iterator next(n);
    next.skip_children();
    ++next;
    unlink(n);
    destroy_subtree(n);
    return next;
  }

  // Frees every descendant of `position`; the node stays, childless.
  void erase_children(const iterator_base& position) {
    tree_node* n = position.node;
    if (n == 0) return;
    tree_node* c = n->first_child;
    while (c != 0) {
      tree_node* next = c->next_sibling;
      destroy_subtree(c);
      c = next;
    }
    n->first_child = 0;
    n->last_child = 0;
  }

  // Puts a copy of the subtree at `from` in the place of the subtree at `position` (which is
  // freed). `from` may lie inside that subtree or in another tree. Returns the new node.
  pre_order_iterator replace(const iterator_base& position, const iterator_base& from) {
    tree_node* old = position.node;
    if (old == 0 || old == head || old == feet || from.node == 0) return pre_order_iterator(old);
    tree_node* n = copy_subtree(from.node);
    link_before(old, n);
    unlink(old);
    destroy_subtree(old);
    return pre_order_iterator(n);
  }

  // Replaces the sibling run [begin, end) by copies of the sibling run [newBegin, newEnd) with
  // their subtrees. Returns the first new node (or `end` when the new run is empty).
  sibling_iterator replace(sibling_iterator begin, sibling_iterator end, sibling_iterator newBegin,
                           sibling_iterator newEnd) {
    tree_node* first = 0;
    tree_node* last = 0;
    for (tree_node* s = newBegin.node; s != 0 && s != newEnd.node; s = s->next_sibling) {
      tree_node* c = copy_subtree(s);
      if (last != 0) {
        last->next_sibling = c;
        c->prev_sibling = last;
      } else {
        first = c;
      }
      last = c;
    }
    for (tree_node* c = first; c != 0;) {
      tree_node* next = c->next_sibling;
      c->prev_sibling = 0;
      c->next_sibling = 0;
      if (begin.node != 0 && begin.node != end.node) link_before(begin.node, c);
      else link_run_end(end, c);
      c = next;
    }
    for (tree_node* o = begin.node; o != 0 && o != end.node && o != feet;) {
      tree_node* next = o->next_sibling;
      unlink(o);
      destroy_subtree(o);
      o = next;
    }
    return first != 0 ? sibling_iterator(first) : end;
  }

  // A new tree holding copies of the sibling run [from, to) with their subtrees.
  tree subtree(const iterator_base& from, const iterator_base& to) const {
    tree out;
    for (tree_node* s = from.node; s != 0 && s != to.node && s != feet; s = s->next_sibling) {
      out.link_before(out.feet, out.copy_subtree(s));
    }
    return out;
  }

  // The parent of `position`; a null position for a top-level node.
  pre_order_iterator parent(const iterator_base& position) const {
    return pre_order_iterator(position.node ? position.node->parent : 0);
  }

  // The next sibling of `position` (end() after the last top-level node, null after the last child).
  sibling_iterator next_sibling(const iterator_base& position) const {
    tree_node* n = position.node;
    return sibling_iterator(n ? n->next_sibling : 0, n ? n->parent : 0);
  }

  // False for a null position and for the sentinels.
  bool is_valid(const iterator_base& position) const {
    return position.node != 0 && position.node != head && position.node != feet;
  }

  // The first position of [from, to) whose data equals `value` (by T::operator==), else `to`.
  pre_order_iterator find(pre_order_iterator from, const pre_order_iterator& to, const T& value) const {
    for (; from != to && from.node != 0; ++from) {
      if (*from == value) return from;
    }
    return to;
  }

 private:
  typedef std::allocator_traits<NodeAllocator> node_traits;

  void init() {
    head = create_node(T());
    feet = create_node(T());
    head->next_sibling = feet;
    feet->prev_sibling = head;
  }

  void copy_from(const tree& other) {
    for (tree_node* s = other.head->next_sibling; s != other.feet; s = s->next_sibling) {
      link_before(feet, copy_subtree(s));
    }
  }

  tree_node* create_node(const T& value) {
    tree_node* n = node_traits::allocate(alloc, 1);
    try {
      node_traits::construct(alloc, n, value);
    } catch (...) {
      node_traits::deallocate(alloc, n, 1);
      throw;
    }
    return n;
  }

  void destroy_node(tree_node* n) {
    node_traits::destroy(alloc, n);
    node_traits::deallocate(alloc, n, 1);
  }

  // Frees `n` and all its descendants; `n` must be unlinked or about to be forgotten.
  void destroy_subtree(tree_node* n) {
    tree_node* c = n->first_child;
    while (c != 0) {
      tree_node* next = c->next_sibling;
      destroy_subtree(c);
      c = next;
    }
    destroy_node(n);
  }

  // A detached copy of the subtree at `src` (no parent, no siblings).
  tree_node* copy_subtree(const tree_node* src) {
    tree_node* n = create_node(src->data);
    try {
      for (const tree_node* c = src->first_child; c != 0; c = c->next_sibling) {
        tree_node* cc = copy_subtree(c);
        cc->parent = n;
        cc->prev_sibling = n->last_child;
        if (n->last_child != 0) n->last_child->next_sibling = cc;
        else n->first_child = cc;
        n->last_child = cc;
      }
    } catch (...) {
      destroy_subtree(n);
      throw;
    }
    return n;
  }

  // Links the detached node `n` as the previous sibling of `at` (a node in this tree or feet).
  void link_before(tree_node* at, tree_node* n) {
    n->parent = at->parent;
    n->next_sibling = at;
    n->prev_sibling = at->prev_sibling;
    if (at->prev_sibling != 0) at->prev_sibling->next_sibling = n;
    else if (at->parent != 0) at->parent->first_child = n;
    at->prev_sibling = n;
  }

  // Links the detached node `n` at the end of the run `at` ends (a null node with a parent, or feet).
  void link_run_end(const sibling_iterator& at, tree_node* n) {
    if (at.node != 0) {
      link_before(at.node, n);
      return;
    }
    if (at.parent == 0) {
      link_before(feet, n);
      return;
    }
    tree_node* p = at.parent;
    n->parent = p;
    n->prev_sibling = p->last_child;
    if (p->last_child != 0) p->last_child->next_sibling = n;
    else p->first_child = n;
    p->last_child = n;
  }

  // Takes `n` out of its sibling chain; its subtree stays attached to it.
  void unlink(tree_node* n) {
    if (n->prev_sibling != 0) n->prev_sibling->next_sibling = n->next_sibling;
    else if (n->parent != 0) n->parent->first_child = n->next_sibling;
    if (n->next_sibling != 0) n->next_sibling->prev_sibling = n->prev_sibling;
    else if (n->parent != 0) n->parent->last_child = n->prev_sibling;
    n->prev_sibling = 0;
    n->next_sibling = 0;
  }

  tree_node* head;
  tree_node* feet;
  NodeAllocator alloc;
};

#endif  // CORVANE_TREE_H
