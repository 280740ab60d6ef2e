// A test module whose dependency, kwstestdependency, the loader cannot find.
extern "C" int kwsTestDependency();
extern "C" int kwsTestUsesDependency() {
  return kwsTestDependency() + 1;
}
