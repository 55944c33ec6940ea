import os
import pathlib
import tempfile

import pytest

import nametree

NAMES = ["Straße", "Привет", "名前", "Pump_1"]


@pytest.fixture
def tmp(tmp_path_factory):
    base = os.environ.get("NAMETREE_TEST_TMP")
    if base:
        os.makedirs(base, exist_ok=True)
        return pathlib.Path(tempfile.mkdtemp(dir=base))
    return tmp_path_factory.mktemp("doc")


@pytest.fixture
def plant():
    doc = nametree.in_memory()
    ids = {t: doc.add_container(0, t) for t in ("global", "target", "own")}
    ids["plain"] = doc.add_container(ids["own"], 0)
    ids["pump"] = doc.add(ids["global"], "Pump")
    return doc, ids


def test_a_committed_document_reads_back_with_its_names_and_types(tmp):
    path = tmp / "plant.ntd"
    with nametree.open(path, create=True) as doc:
        area = doc.add_container(0, "global")
        unit = doc.add_container(area, "own")
        ids = doc.add_many(unit, NAMES)
    with nametree.open(str(path), read_only=True) as doc:
        walked = list(doc.containers())
    assert [(c.id, c.type, c.parent, c.depth) for c in walked] == [(area, "global", 0, 0), (unit, "own", area, 1)]
    assert walked[1].type == nametree.ContainerType.OWN == 4
    assert sorted((n.id, n.text) for n in walked[1].names) == sorted(zip(ids, NAMES))


def test_a_block_that_raises_writes_nothing(tmp):
    path = tmp / "plant.ntd"
    with pytest.raises(KeyError):
        with nametree.open(path, create=True) as doc:
            doc.add_container(0, "plain")
            raise KeyError
    assert not path.exists()
    with nametree.open(path, create=True) as doc:
        area = doc.add_container(0)
        doc.add(area, "Kept")
    before = path.read_bytes()
    with pytest.raises(RuntimeError):
        with nametree.open(path) as doc:
            doc.add(area, "Lost")
            raise RuntimeError
    assert path.read_bytes() == before


@pytest.mark.parametrize("edit, error, code, says, reason", [
    (lambda d, i: d.add(i["target"], "PUMP"), nametree.DuplicateNameError, "E_NAME_DUPLICATE", "global namespace",
     "duplicate"),
    (lambda d, i: d.add(i["plain"], "1st"), nametree.InvalidNameError, "E_NAME_INVALID", 'begins with "1"',
     "invalid-name"),
    (lambda d, i: d.add(99, "X"), nametree.NotFoundError, "E_FAIL", "no container has ID 99", "no-container"),
    (lambda d, i: d.add(i["plain"], "A\ud800"), nametree.InvalidTextError, "E_INVALIDARG", "lone surrogate", None),
    (lambda d, i: d.add(i["plain"], "Keep\0Evil", 1), nametree.InvalidNameError, "E_NAME_INVALID", "U\\+0000 at position 5", None),
    (lambda d, i: d.rename(99, "X"), nametree.NotFoundError, "E_FAIL", "no name has ID 99", "no-name"),
    (lambda d, i: d.delete_container(i["pump"]), nametree.NotFoundError, "E_FAIL", "no container has ID", "no-container"),
    (lambda d, i: d.add_container(0, "bogus"), nametree.InvalidArgumentError, "E_INVALIDARG", '"bogus"', None),
    (lambda d, i: d.add_container(0, 40000), nametree.InvalidArgumentError, "E_INVALIDARG", "-32768 to 32767", None),
    (lambda d, i: d.next_name(i["plain"], "9"), nametree.InvalidNameError, "E_NAME_INVALID", "no number makes", "invalid-name"),
])
def test_refusals_raise_the_error_of_their_kind(plant, edit, error, code, says, reason):
    doc, ids = plant
    with pytest.raises(error, match=says) as raised:
        edit(doc, ids)
    assert isinstance(raised.value, nametree.Error)
    assert raised.value.code == code
    assert raised.value.reason == reason
    held = (ids["global"], ids["pump"]) if reason == "duplicate" else None
    assert (raised.value.holder, raised.value.rule) == (held, "first-character" if reason == "invalid-name" else None)


def test_add_many_is_all_or_nothing(plant):
    doc, ids = plant
    with pytest.raises(nametree.DuplicateNameError, match="name 3 of 3; none was added"):
        doc.add_many(ids["plain"], ["A1", "A2", "pump"])
    assert doc.find("A1") == []
    first, second = doc.add_many(ids["plain"], iter(["A1", "A2"]))
    assert second == first + 1 and first == ids["pump"] + 1


def test_check_find_and_next_name(plant):
    doc, ids = plant
    verdict = doc.check(ids["plain"], "pump")
    assert not verdict and verdict.code == "E_NAME_DUPLICATE"
    assert (verdict.other_container, verdict.other_name) == (ids["global"], ids["pump"])
    assert "global namespace" in verdict.reason
    assert doc.check(ids["plain"], "Pumpe") and doc.check(ids["plain"], "Pumpe").code is None
    proposal = doc.next_name(ids["plain"], "Pump", 3)
    assert doc.add(ids["plain"], proposal) > 0
    assert [(h.container, h.text) for h in doc.find(proposal.upper())] == [(ids["plain"], proposal)]
    doc.rename(ids["pump"], "Pumpe")
    assert doc.find("pump") == []


def test_files_refuse_what_they_cannot_do(tmp):
    path = tmp / "plant.ntd"
    with pytest.raises(nametree.NotFoundError):
        nametree.open(path)
    with nametree.open(path, create=True) as doc:
        doc.add_container(0)
    with pytest.raises(nametree.DocumentExistsError):
        nametree.open(path, create=True)
    writer = nametree.open(path)
    with pytest.raises(nametree.LockedError, match="in this program already"):
        nametree.open(path)  # at once, not after the wait
    with nametree.open(path, read_only=True) as reader:
        with pytest.raises(nametree.ReadOnlyError):
            reader.commit()
    writer.close()
    with pytest.raises(nametree.InvalidArgumentError):
        writer.add_container(0)
    nametree.open(path, wait=0).close()
    (tmp / "other").write_bytes(b"not a document at all" * 40)
    with pytest.raises(nametree.FileError):
        nametree.open(tmp / "other")
    with pytest.raises(nametree.NotADocumentError, match="earlier format"):
        nametree.Document.import_legacy(path)


def test_lint_reports_what_the_server_would_refuse(plant):
    doc, ids = plant
    assert doc.lint() == []
    doc.add(ids["plain"], "_hidden", kind=1)  # kind 1 skips the name rule
    (finding,) = doc.lint()
    assert (finding.check, finding.container, finding.text) == ("invalid", ids["plain"], "_hidden")
    assert 'begins with "_"' in finding.message


def test_a_read_only_document_refuses_edits_at_the_call(tmp):
    path = tmp / "plant.ntd"
    with nametree.open(path, create=True) as doc:
        area = doc.add_container(0, "global")
    with nametree.open(path, read_only=True) as doc:
        for edit in (lambda: doc.add(area, "Pump"), lambda: doc.add_container(0), lambda: doc.set_label(area, "P"),
                     lambda: doc.add_keywords(["Begin"])):
            with pytest.raises(nametree.ReadOnlyError, match="opened read-only"):
                edit()
        assert not doc.dirty and doc.find("Pump") == [] and doc.labels() == {} and doc.keywords() == []


def test_labels_keywords_and_lookup_survive_a_commit(tmp):
    path = tmp / "plant.ntd"
    with nametree.open(path, create=True) as doc:
        area = doc.add_container(0, "global")
        pump = doc.add(area, "Pump")
        doc.set_label(area, "Plant")
        assert doc.add_keywords(["Begin", "BEGIN"]) == 1
        assert doc.add_keyword_set("iec61131-3") > 10
    with nametree.open(path) as doc:
        assert doc.find_id(pump) == nametree.Hit(area, pump, "Pump")
        assert doc.find_label("PLANT") == area and doc.label(area) == "Plant" and doc.labels() == {area: "Plant"}
        assert doc.keywords()[0] == "Begin"
        with pytest.raises(nametree.KeywordError, match="it is a keyword") as raised:
            doc.add(area, "if")
        assert isinstance(raised.value, nametree.DuplicateNameError) and raised.value.code == "E_NAME_DUPLICATE"
        assert (raised.value.reason, raised.value.namespace) == ("keyword", "keyword")
        with pytest.raises(nametree.NotFoundError):
            doc.find_label("Line")
        with pytest.raises(nametree.NotFoundError):
            doc.add_keyword_set("no-such-set")
        assert repr(doc) == "<nametree.Document %r>" % str(path)
        doc.add(area, "Valve")
        assert repr(doc) == "<nametree.Document %r, changed>" % str(path)
    assert repr(doc) == "<nametree.Document closed>"
    assert repr(nametree.in_memory()) == "<nametree.Document in memory>"


def test_containers_are_walked_lazily_and_an_edit_ends_the_walk(plant):
    doc, ids = plant
    walk = doc.containers()
    assert iter(walk) is walk
    assert next(walk).id == ids["global"]
    doc.add(ids["plain"], "Valve")
    with pytest.raises(ValueError, match="edited during the walk"):
        next(walk)
    assert [c.id for c in doc.containers()] == [ids["global"], ids["target"], ids["own"], ids["plain"]]
    walk = doc.containers()
    doc.close()
    with pytest.raises(nametree.InvalidArgumentError, match="closed"):
        next(walk)
