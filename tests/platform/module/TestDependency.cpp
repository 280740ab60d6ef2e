// A library the next test module needs, kept out of the loader's reach.
extern "C" int kwsTestDependency() {
  return 7;
}
