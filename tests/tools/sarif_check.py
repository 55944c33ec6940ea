"""lint --format sarif checked offline against the parts of SARIF 2.1.0 that
CI tools read (no copy of the full schema is at hand), and each fix's region
checked against the file: it must cover exactly the name it replaces.
Usage: sarif_check.py NAMETREE FIXTURE_DIR; exit 77 without jsonschema."""
import json
import re
import subprocess
import sys
import urllib.parse

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is not installed", file=sys.stderr)
    sys.exit(77)

REGION = {"type": "object", "required": ["startLine"], "properties": {
    "startLine": {"type": "integer", "minimum": 1}, "startColumn": {"type": "integer", "minimum": 1},
    "endColumn": {"type": "integer", "minimum": 1}}}
LOCATION = {"type": "object", "properties": {
    "id": {"type": "integer", "minimum": -1},
    "physicalLocation": {"type": "object", "required": ["artifactLocation"], "properties": {
        "artifactLocation": {"type": "object", "required": ["uri"], "properties": {"uri": {"type": "string",
                                                                                           "format": "uri-reference"}}},
        "region": REGION}},
    "logicalLocations": {"type": "array", "items": {"type": "object", "properties": {
        "fullyQualifiedName": {"type": "string"}}}}}}
MESSAGE = {"type": "object", "required": ["text"], "properties": {"text": {"type": "string"}}}
LEVEL = {"enum": ["none", "note", "warning", "error"]}
OBJ = lambda required, **props: {"type": "object", "required": required, "properties": props}
LIST = lambda item, least=0: {"type": "array", "minItems": least, "items": item}
RULE = OBJ(["id"], id={"type": "string"}, shortDescription=MESSAGE, help=MESSAGE,
           defaultConfiguration=OBJ([], enabled={"type": "boolean"}, level=LEVEL))
REPLACEMENT = OBJ(["deletedRegion"], deletedRegion=REGION, insertedContent=OBJ([], text={"type": "string"}))
CHANGE = OBJ(["artifactLocation", "replacements"], replacements=LIST(REPLACEMENT, 1))
FIX = OBJ(["artifactChanges"], description=MESSAGE, artifactChanges=LIST(CHANGE, 1))
RESULT = OBJ(["message"], ruleId={"type": "string"}, ruleIndex={"type": "integer", "minimum": -1}, level=LEVEL,
             message=MESSAGE, locations=LIST(LOCATION), relatedLocations=LIST(LOCATION), fixes=LIST(FIX))
DRIVER = OBJ(["name"], name={"type": "string"}, version={"type": "string"}, rules=LIST(RULE))
RUN = OBJ(["tool"], tool=OBJ(["driver"], driver=DRIVER),
          columnKind={"enum": ["utf16CodeUnits", "unicodeCodePoints"]}, results=LIST(RESULT))
SCHEMA = OBJ(["version", "runs"], version={"const": "2.1.0"}, runs=LIST(RUN, 1))
SCHEMA["properties"]["$schema"] = {"type": "string"}

def main():
    nametree, fixtures = sys.argv[1], sys.argv[2]
    files = [fixtures + "/scopes.xml", fixtures + "/conventions.xml"]
    run = subprocess.run([nametree, "lint", "--format", "sarif"] + files, capture_output=True, text=True)
    assert run.returncode == 1, run.stderr
    log = json.loads(run.stdout)
    jsonschema.Draft7Validator(SCHEMA, format_checker=jsonschema.FormatChecker()).validate(log)
    run0 = log["runs"][0]
    rules = run0["tool"]["driver"]["rules"]
    assert len({r["id"] for r in rules}) == len(rules), "rule IDs repeat"
    fixes = 0
    for result in run0["results"]:
        assert rules[result["ruleIndex"]]["id"] == result["ruleId"], result
        where = result["locations"][0]
        name = re.search(r"\[([^\]]*)\]$", where["logicalLocations"][0]["fullyQualifiedName"]).group(1)
        region = where["physicalLocation"]["region"]
        uri = where["physicalLocation"]["artifactLocation"]["uri"]
        path = urllib.parse.unquote(uri.removeprefix("file://"))
        line = open(path, encoding="utf-8").read().split("\n")[region["startLine"] - 1]
        assert line[region["startColumn"] - 1:].startswith(name), (line, region, name)
        for fix in result.get("fixes", []):
            fixes += 1
            for change in fix["artifactChanges"]:
                for r in change["replacements"]:
                    d = r["deletedRegion"]
                    assert line[d["startColumn"] - 1:d["endColumn"] - 1] == name, (line, d, name)
    print(f"{len(run0['results'])} results, {fixes} fixes")


main()
