# A small sample tree, made once: three days of the sample market converted by
# marbloom-cli as a user would (daily lines, ticks, minute lines).
import os
import shutil
import subprocess

import pytest

DAYS = ["20240102", "20240103", "20240104"]


class SampleTree:
    def __init__(self, root):
        self.work = os.path.join(root, "work")
        self.history = os.path.join(root, "hist") + "/"
        os.makedirs(self.work, exist_ok=True)
        self.cli("settings", "set", "VIPDOC=" + self.history)

    def cli(self, *args):
        return subprocess.run([os.environ["MARBLOOM_CLI"], "-q", "-C", self.work, *args],
                              capture_output=True, text=True)

    def add_day(self, date):
        subprocess.run([os.environ["MARBLOOM_SAMPLEGEN"], "day", "--date", date, "--securities", "40",
                        "--tree", self.history], check=True, capture_output=True)

    def copy(self, root):
        shutil.copytree(os.path.dirname(self.work), root)
        return SampleTree(root)


@pytest.fixture(scope="session")
def sample(tmp_path_factory):
    tree = SampleTree(str(tmp_path_factory.mktemp("sample")))
    for date in DAYS:
        tree.add_day(date)
    for command in (["daily", "convert"], ["tick", "convert"], ["minutes", "build"]):
        assert tree.cli(*command, "--from", DAYS[0], "--to", DAYS[-1]).returncode == 0
    return tree


@pytest.fixture
def scratch(sample, tmp_path):
    return sample.copy(str(tmp_path / "copy"))
