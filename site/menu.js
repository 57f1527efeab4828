// Client functions of the menu frame (left.asp): folding groups, the button
// look, the sprite and logging out. Included after the menu markup.

// Groups 1..5 are the tables child1..child5; one group is open at a time so
// the menu fits its frame, which does not scroll.
function expand(n) {
  var child = document.getElementById('child' + n);
  if (!child) return;
  var opening = child.style.display == 'none';
  for (var i = 1; i <= 5; i++) {
    var other = document.getElementById('child' + i);
    if (other) other.style.display = 'none';
  }
  if (opening) child.style.display = '';
}

// Button look: flat at rest, raised under the pointer, sunken while pressed.
var BUTTON_FACE = '#215ADB', BUTTON_LIGHT = '#A9C6FF', BUTTON_DARK = '#0B2F85';

function setEdges(button, topLeft, bottomRight) {
  button.style.borderStyle = 'solid';
  button.style.borderColor = topLeft + ' ' + bottomRight + ' ' + bottomRight + ' ' + topLeft;
}
function mouseOver(button) { setEdges(button, BUTTON_LIGHT, BUTTON_DARK); }
function mouseOut(button) { setEdges(button, BUTTON_FACE, BUTTON_FACE); }
function mouseDown(button) { setEdges(button, BUTTON_DARK, BUTTON_LIGHT); }
function mouseUp(button) { setEdges(button, BUTTON_LIGHT, BUTTON_DARK); }

// Logging out ends the session for the whole window, not just this frame.
function quitoa() {
  if (window.confirm('确定要退出系统吗？')) top.location = 'quit.asp';
  return false;
}

(function () {
  // Only the first group is open when the menu loads.
  for (var i = 2; i <= 5; i++) {
    var child = document.getElementById('child' + i);
    if (child) child.style.display = 'none';
  }
  // The sprite opens the desk, which lists the waiting work and mail.
  var cat = document.getElementById('cat');
  if (cat) {
    cat.title = cat.src.indexOf('logo1.gif') >= 0 ? '没有新的待办事宜和邮件' : '有新的待办事宜或邮件，点击查看';
    cat.onclick = function () {
      if (top.frames['right']) top.frames['right'].location = 'right.asp';
    };
  }
})();
