// Client functions of the desk (right.asp), its list pages and the status bar.

// Opens a linked page in a pop-up window. Returns false so the link itself is
// not followed; when the browser blocks the pop-up the link opens as usual.
function OpenWindows(url) {
  var w = 620, h = 460;
  var left = Math.max(0, Math.round((screen.availWidth - w) / 2));
  var top = Math.max(0, Math.round((screen.availHeight - h) / 2));
  var win = window.open(url, 'deskwindow', 'width=' + w + ',height=' + h + ',left=' + left +
                        ',top=' + top + ',scrollbars=yes,resizable=yes');
  if (!win) return true;
  win.focus();
  return false;
}

// Lets today's pending items scroll upwards inside their panel; the cell that
// holds the list closes the scroller.
function marquee1() {
  document.write("<marquee direction='up' scrollamount='1' scrolldelay='60' height='84' " +
                 "onmouseover='this.stop()' onmouseout='this.start()'>");
}

// Clock-in and clock-out: tell the page which one was pressed, then let the
// image button post the form.
function clockPost(flag) {
  var form = document.forms['form'];
  if (!form || !form.elements['flag']) return false;
  form.elements['flag'].value = flag;
  return true;
}
function timestart() { return clockPost('timestart'); }
function timeend() { return clockPost('timeend'); }

// The status bar's page buttons scroll the work frame by a page.
function findFrame(win, name) {
  for (var i = 0; i < win.frames.length; i++) {
    var f = win.frames[i];
    try {
      if (f.name === name) return f;
      var inner = findFrame(f, name);
      if (inner) return inner;
    } catch (e) {
      // a frame of another origin
    }
  }
  return null;
}
function scrollWork(direction) {
  var work = findFrame(window.top, 'right') || window;
  var page = work.innerHeight || work.document.documentElement.clientHeight;
  work.scrollBy(0, direction * Math.max(40, page - 40));
}
function uppage() { scrollWork(-1); }
function downpage() { scrollWork(1); }

// Hover feedback of the status bar's buttons.
function lighten(img) { img.style.filter = 'brightness(1.25)'; }
function restore(img) { img.style.filter = ''; }
function upOver(img) { lighten(img); }
function upOut(img) { restore(img); }
function outOver(img) { lighten(img); }
function outOut(img) { restore(img); }
function downOver(img) { lighten(img); }
function downOut(img) { restore(img); }

// ---- Forms that write -------------------------------------------------------
// A form is posted once: a second click while the first post is on its way
// does nothing.
var formSending = false;
// A page the browser shows again from its history (after a refused post and
// "返回") may post again.
window.addEventListener('pageshow', function (e) {
  if (e.persisted) formSending = false;
});
function checksubmit() {
  if (formSending) return false;
  formSending = true;
  return true;
}
// A delete button: asks first.
function checkdelete(question) {
  if (formSending || !window.confirm(question)) return false;
  formSending = true;
  return true;
}

// Personal plans (planlist.asp, modifyplanonce.asp): the plan needs a text.
function checkplanlist() {
  var content = document.forms['form'].elements['content'];
  if (!content.value.replace(/\s+/g, '')) {
    alert('请输入安排内容。');
    content.focus();
    return false;
  }
  return checksubmit();
}

// The date picker of the plan pages: `shown` is the field clicked, `target`
// the field that receives the date (YYYY-MM-DD). Its change handler runs
// after a date is chosen.
function isoDay(text) {
  var m = /(\d{4})\D+(\d{1,2})\D+(\d{1,2})/.exec(text || '');
  if (!m) return '';
  var p = function (n) { return (n.length < 2 ? '0' : '') + n; };
  return m[1] + '-' + p(m[2]) + '-' + p(m[3]);
}
function setday(shown, target) {
  target = target || shown;
  var picker = document.getElementById('daypicker');
  if (!picker) {
    picker = document.createElement('input');
    picker.type = 'date';
    picker.id = 'daypicker';
    picker.tabIndex = -1;
    picker.style.cssText = 'position:absolute;width:1px;height:1px;opacity:0;border:0;padding:0';
    document.body.appendChild(picker);
  }
  var box = target.getBoundingClientRect();
  picker.style.left = (box.left + window.scrollX) + 'px';
  picker.style.top = (box.bottom + window.scrollY) + 'px';
  picker.value = isoDay(target.value);
  picker.onchange = function () {
    if (!picker.value) return;
    target.value = picker.value;
    if (target.onchange) target.onchange();
  };
  try {
    picker.showPicker();
  } catch (e) {
    var typed = window.prompt('请输入日期（例如 2006-12-03）：', isoDay(target.value));
    if (typed && isoDay(typed)) {
      target.value = isoDay(typed);
      if (target.onchange) target.onchange();
    }
  }
}

// Adding a user (adduser.asp): an account name that is new, a password, a
// name and a department; `allid` holds the account names in use.
function choosedep() {
  var f = document.forms['form'].elements;
  var dep = f['dep'];
  f['depname'].value = dep.value ? dep.options[dep.selectedIndex].text : '';
}
function checkadduser() {
  var form = document.forms['form'];
  var f = form.elements;
  var id = f['id'].value;
  if (!id.replace(/\s+/g, '')) { alert('请输入用户帐号。'); f['id'].focus(); return false; }
  for (var i = 0; i < allid.length; i++) {
    if (allid[i] === id) { alert('用户帐号“' + id + '”已经存在，请换一个帐号。'); f['id'].focus(); return false; }
  }
  if (!f['password'].value) { alert('请输入密码。'); f['password'].focus(); return false; }
  if (!f['name'].value.replace(/\s+/g, '')) { alert('请输入姓名。'); f['name'].focus(); return false; }
  if (!f['dep'].value) { alert('请选择部门。'); f['dep'].focus(); return false; }
  choosedep();
  if (checksubmit()) form.submit();
  return false;
}

// Adding a contact (addphone.asp): every field may stay empty.
function checkphoneadd() {
  if (checksubmit()) document.forms['form'].submit();
  return false;
}

// Changing one's password (mypassword.asp).
function checkpassword() {
  var form = document.forms['form'];
  if (!form.newpassword.value) { alert('请输入新密码。'); form.newpassword.focus(); return false; }
  if (form.newpassword.value !== form.newpassword2.value) {
    alert('两次输入的新密码不一致。');
    form.newpassword2.focus();
    return false;
  }
  return checksubmit();
}
