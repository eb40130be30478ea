"""Every public function shows how it is called, and its Examples run as written."""

import doctest
import importlib
import inspect

import pytest

# The public modules, and what their examples need beyond the core.
MODULES = {"linetopo": (), "linetopo.geo": ("geopandas",), "linetopo.dask": ("dask",),
           "linetopo.raster": ("PIL",)}


def public_functions():
    for module_name, needs in MODULES.items():
        module = importlib.import_module(module_name)
        for name in module.__all__:
            if not inspect.isclass(getattr(module, name)):
                yield pytest.param(module_name, name, needs, id=f"{module_name}.{name}")


@pytest.mark.parametrize("module_name, name, needs", list(public_functions()))
def test_examples_run(module_name, name, needs):
    for need in needs:
        pytest.importorskip(need)
    doc = getattr(importlib.import_module(module_name), name).__doc__
    assert "\nExamples\n--------\n" in inspect.cleandoc(doc), name
    test = doctest.DocTestParser().get_doctest(doc, {}, f"{module_name}.{name}", None, 0)
    assert any("doctest: +SKIP" not in e.source for e in test.examples), name
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    runner.run(test)
    assert runner.summarize(verbose=False).failed == 0, name
