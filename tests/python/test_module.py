"""The Python module against the command line on the bundled windows.

Run by ctest with PYTHONPATH at the built module and VARNIK_BINARY the
program; `python3 -m pytest tests/python` by hand.
"""
import os
import subprocess

import numpy as np
import pytest

import varnik

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DATA = os.path.join(ROOT, "data", "examples")
BINARY = os.path.abspath(os.environ.get("VARNIK_BINARY", os.path.join(ROOT, "build", "varnik")))
SETTINGS = {
    "PWM": {"Recognition_method": "PWM", "Seed": 1},
    "SVM": {"Recognition_method": "SVM", "Kernel": 5, "Degree (WD)": 4,
            "Cross-validate parameters": False, "Seed": 1, "Evaluate_training_error": True},
}


def windows(name):
    with open(os.path.join(DATA, name)) as f:
        return [line.strip() for line in f if line.strip() and not line.startswith(">")]


def varnik_cli(*args, cwd):
    return subprocess.run([BINARY, *args], cwd=cwd, capture_output=True, text=True)


def parameters_text(settings):
    def text(v):
        return ("true" if v else "false") if isinstance(v, bool) else str(v)
    return "".join("%s: %s\n" % (k, text(v)) for k, v in settings.items())


@pytest.fixture(scope="module")
def trained(tmp_path_factory):
    """Each method trained by the command line (its model file) and from
    Python on the same windows (lists for the positives, a path for the
    negatives), with the bundled test windows."""
    out = {}
    for method, settings in SETTINGS.items():
        d = tmp_path_factory.mktemp(method)
        (d / "p").write_text(parameters_text(settings))
        r = varnik_cli("--threads", "2", "--model", "cli.model", os.path.join(DATA, "donor_train_"),
                       os.path.join(DATA, "donor_test_"), "p", "report", cwd=d)
        assert r.returncode == 0, r.stdout + r.stderr
        model, result = varnik.train(windows("donor_train_pos"),
                                     os.path.join(DATA, "donor_train_neg"), settings,
                                     test=(windows("donor_test_pos"),
                                           os.path.join(DATA, "donor_test_neg")),
                                     threads=1)
        model.save(str(d / "py.model"))
        out[method] = (d, model, result, r.stderr)
    return out


@pytest.mark.parametrize("method", SETTINGS)
def test_a_model_trained_from_python_is_the_command_lines(trained, method):
    d, model, result, summary = trained[method]
    assert (d / "py.model").read_bytes() == (d / "cli.model").read_bytes()
    # The report's text, times aside, and its figures.
    report = (d / "report").read_text()
    strip = lambda t: [l for l in t.splitlines() if " time: " not in l]
    assert strip(result["report"]) == strip(report)
    test = result["test"]
    testing = report.split("TESTING results\n", 1)[1]
    for key, line in (("error", "Error"), ("sensitivity", "Sensitivity (TP rate)"),
                      ("G", "G-measure"), ("F", "F-measure")):
        assert "%s: %f\n" % (line, test[key]) in testing
    assert "test AUC %.4f (95%% CI %.4f to %.4f), AP %.4f," % (
        test["AUC"], test["AUC_low"], test["AUC_high"], test["AP"]) in summary
    assert len(test["roc"]) == 11 and test["roc"][0]["Sn"] == 0
    assert ("training" in result) == bool(SETTINGS[method].get("Evaluate_training_error"))
    assert model.method == method and model.window_length == 60
    assert model.settings["Recognition_method"] == method


@pytest.mark.parametrize("method", SETTINGS)
def test_scores_equal_varnik_score_in_every_input_form(trained, method, tmp_path):
    d, model, _, _ = trained[method]
    fasta = os.path.join(DATA, "donor_test_pos")
    r = varnik_cli("score", str(d / "cli.model"), fasta, cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    lines = [l.split("\t") for l in r.stdout.splitlines()]
    test = windows("donor_test_pos")
    scores = model.score(test, threads=1)
    assert scores.dtype == np.float32 and len(scores) == len(lines)
    assert ["%.6f" % s for s in scores] == [l[1] for l in lines]
    assert [int(c) for c in model.call(test)] == [int(l[2]) for l in lines]
    as_bytes = np.array([w.encode() for w in test])
    for other in (model.score(as_bytes), model.score([w.encode() for w in test]),
                  model.score([w.lower() for w in test], threads=3)):
        assert np.array_equal(other, scores)
    assert len(model.score([])) == 0


def test_thread_counts_give_the_same_model_and_scores(trained, tmp_path):
    d, model, _, _ = trained["SVM"]
    again, result = varnik.train(os.path.join(DATA, "donor_train_pos"),
                                 os.path.join(DATA, "donor_train_neg"), SETTINGS["SVM"],
                                 threads=3)
    again.save(tmp_path / "three.model.gz")
    assert varnik.Model.load(tmp_path / "three.model.gz").score(windows("donor_test_neg")).tobytes() \
        == model.score(windows("donor_test_neg"), threads=2).tobytes()
    again.save(tmp_path / "three.model")
    assert (tmp_path / "three.model").read_bytes() == (d / "py.model").read_bytes()
    assert "test" not in result


@pytest.mark.parametrize("candidates", [True, False])
def test_scan_gives_the_bed_lines_of_varnik_scan(trained, candidates, tmp_path):
    d, model, _, _ = trained["PWM"]
    contig = os.path.join(DATA, "donor_contig.fa.gz")
    extra = [] if candidates else ["--all-windows"]
    r = varnik_cli("scan", "--strands", "both", *extra, str(d / "cli.model"), contig, cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    want = [l.split("\t") for l in r.stdout.splitlines()]
    got = list(model.scan(contig, candidates=candidates))
    assert len(got) == len(want) > 0
    for (name, start, end, strand, score), line in zip(got, want):
        assert [name, str(start), str(end), strand] == [line[0], line[1], line[2], line[5]]
        assert abs(score - float(line[4])) < 1e-3
    # One strand, a cut-off, and a sequence given as letters.
    plus = list(model.scan(contig, strands="plus", min_score=10, candidates=candidates))
    assert plus and all(h[3] == "+" and h[4] > 10 for h in plus)
    letters = "".join(windows("donor_test_pos")[:3])
    hits = list(model.scan(letters, candidates=candidates))
    assert hits and all(h[0] == "sequence" and h[2] - h[1] == 60 for h in hits)


@pytest.mark.parametrize("call, code, words", [
    (lambda: varnik.train(["ACGT" * 15], ["ACGT" * 15], {"Recognition_methd": "PWM"}), 1,
     'settings:1: unknown key "Recognition_methd" (did you mean "Recognition_method"?)'),
    (lambda: varnik.train(["ACGT" * 15], ["ACGT" * 15], {"Desired_sensitivity": 2}), 1,
     "Desired_sensitivity"),
    (lambda: varnik.train(["ACGT" * 15], ["ACGT" * 15], {"C": "much"}), 1,
     'settings:1: C: "much" is not a number'),
    (lambda: varnik.train("/no/such/file", ["ACGT" * 15], {}), 2, "/no/such/file"),
    (lambda: varnik.Model.load(os.path.join(DATA, "donor_test_pos")), 1,
     "is not a varnik model file"),
    (lambda: varnik.train(["AC\nGT"], ["ACGT"], {}), 1, "holds a line end"),
])
def test_errors_raise_with_the_exit_code_and_message(call, code, words):
    with pytest.raises(varnik.Error) as raised:
        call()
    assert isinstance(raised.value, RuntimeError)
    assert raised.value.code == code
    assert words in raised.value.message, raised.value.message


def test_windows_of_the_wrong_length_raise(trained):
    _, model, _, _ = trained["PWM"]
    with pytest.raises(varnik.Error) as raised:
        model.score(["ACGT"])
    assert raised.value.code == 1
    with pytest.raises(varnik.Error):
        model.scan("not a sequence!")


def test_nothing_is_written_to_standard_output(capfd):
    model, _ = varnik.train(windows("donor_train_pos"), windows("donor_train_neg"),
                            {"Recognition_method": "PWM", "Evaluate_training_error": True},
                            test=(windows("donor_test_pos"), windows("donor_test_neg")))
    model.score(windows("donor_test_pos"))
    list(model.scan(os.path.join(DATA, "donor_contig.fa.gz")))
    with pytest.raises(varnik.Error):
        varnik.train(["ACGT"], ["ACGT"], {"Recognition_method": "PWM", "Nonsense": 1})
    assert capfd.readouterr().out == ""
