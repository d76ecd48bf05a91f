// A kernel source of the test tree.
