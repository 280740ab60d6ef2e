extern "C" int kwsTestDependency() {
  return 7;
}
