// Client side of the recipient picker (the department/member tree that the
// turnone/turnmore components write into a page).
//
// The tree gives: tables dep1, dep2, ... holding the members of each
// department; cells user0, user1, ... each with a checkbox whose value is the
// member's login id; the array namevect with each member's name.
//
// After every click the choice is written to the form field "hiddenselect":
//   several users (TurnMore): each login id followed by ";" ("zhang;li;")
//   one user (TurnGreen):     the bare login id ("zhang")
// and, when the page has a field "username", the chosen names joined by ";".

// Chosen members in click order: {k: member number, uid: login id, name}.
var pickerChosen = [];
var pickerSingle = false;

// Opens or closes the member table of a department.
function show(id) {
  var table = document.getElementById(id);
  if (table) table.style.display = table.style.display === 'none' ? '' : 'none';
}

// Highlights a member row under the mouse; Turn restores it.
function TurnColor(row) {
  row.style.backgroundColor = '#E0E7F3';
}
function Turn(row) {
  row.style.backgroundColor = '';
}

function pickerBox(k) {
  var cell = document.getElementById('user' + k);
  return cell ? cell.querySelector('input[type=checkbox]') : null;
}

function pickerMember(k, name) {
  var box = pickerBox(k);
  var shown = typeof namevect !== 'undefined' && namevect[k] !== undefined ? namevect[k] : name;
  return {k: String(k), uid: box ? box.value : '', name: String(shown).trim()};
}

function pickerField(name) {
  return document.querySelector('[name="' + name + '"]');
}

// Shows the choice in the checkboxes and writes it to the form fields.
function pickerWrite() {
  var boxes = document.querySelectorAll('td[id^="user"] input[type=checkbox]');
  for (var i = 0; i < boxes.length; i++) boxes[i].checked = false;
  for (var j = 0; j < pickerChosen.length; j++) {
    var box = pickerBox(pickerChosen[j].k);
    if (box) box.checked = true;
  }
  var uids = pickerChosen.map(function (m) { return m.uid; });
  var list = uids.map(function (u) { return u + ';'; }).join('');
  var names = pickerChosen.map(function (m) { return m.name; });
  var select = pickerField('hiddenselect');
  if (select) select.value = pickerSingle ? uids.join('') : list;
  var username = pickerField('username');
  if (username) username.value = names.join(';');
}

// A click on a checkbox itself is cancelled by its own onClick, and the
// browser then restores the box after the event; drawing again once the event
// is over keeps the boxes in step with the choice.
function pickerDone() {
  pickerWrite();
  setTimeout(pickerWrite, 0);
}

// Several users: member k joins the choice, or leaves it when already chosen.
function TurnMore(k, name) {
  if (pickerSingle) pickerChosen = [];
  pickerSingle = false;
  var at = -1;
  for (var i = 0; i < pickerChosen.length; i++) {
    if (pickerChosen[i].k === String(k)) at = i;
  }
  if (at >= 0) {
    pickerChosen.splice(at, 1);
  } else {
    pickerChosen.push(pickerMember(k, name));
  }
  pickerDone();
}

// One user: member k becomes the whole choice.
function TurnGreen(k, name) {
  pickerSingle = true;
  pickerChosen = [pickerMember(k, name)];
  pickerDone();
}

// Clears the choice, the checkboxes and the form fields.
function pickerReset() {
  pickerChosen = [];
  pickerDone();
}
